#include "device_port.hpp"

#include <limits>

std::int32_t comPortNumber(const std::string& word)
{
    if (word.size() < 4 || word.compare(0, 3, "COM") != 0 || word.size() > 13) {
        return 0;
    }
    long long number = 0;
    for (std::size_t i = 3; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9') {
            return 0;
        }
        number = number * 10 + (word[i] - '0');
    }
    return number <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(number) : 0;
}
