// Plays a velmoran.exe that crashed, for the download batch file's test: it ends with
// the status Windows gives a program ended by an access violation, 0xC0000005, which a
// batch file sees as a status below 0.
int main()
{
    return static_cast<int>(0xC0000005u);
}
