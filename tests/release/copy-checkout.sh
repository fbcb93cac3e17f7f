# Sourced by the release tests. copy_checkout SOURCE FOLDER: the checkout as it stands,
# uncommitted changes too, with its history (a release takes its time from the last
# commit), in FOLDER; what git ignores (builds, dist/) stays behind.
copy_checkout() {
  mkdir -p "$2"
  git clone -q --no-checkout --no-hardlinks "$1" "$2"
  git -C "$1" ls-files -z --cached --others --exclude-standard |
    tar -C "$1" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$2" -xf -
}
