#!/usr/bin/env bash
# Makes a release from the checkout, in dist/:
#   velmoran_VERSION_{amd64,arm64,armhf}.deb, velmoran-VERSION-linux-{amd64,arm64,armhf}.tar.gz,
#   velmoran-VERSION-win64.zip, velmoran-VERSION-x64.msi and SHA256SUMS.
# Two runs on one commit give the same bytes, wherever and whenever they run: every time
# in the artifacts is the last commit's (SOURCE_DATE_EPOCH), no folder name gets in, and
# the archives are sorted with fixed owners and modes.
#
#   release.sh [--allow-dirty] [--only amd64|arm64|armhf|win64]... [--reuse-build]
#              [--sign SIGNER [--timestamp-url URL]]
#     --allow-dirty   release a tree with uncommitted changes (refused otherwise)
#     --only TARGET   make only that target's artifacts (repeatable)
#     --reuse-build   start from the compiled objects of the last release made in this
#                     checkout rather than afresh (to sign a release just made unsigned,
#                     with the same compilers): the programs are linked and packed again
#     --sign          sign velmoran.exe and velmoran-sim.exe with Authenticode before they
#                     are packed into the zip and the MSI, then the MSI itself. SIGNER is
#                     --pkcs12 FILE                  key and certificate chain in a file
#                     --pkcs11-module MODULE --pkcs11-key URI --pkcs11-cert URI|FILE
#                                                    key on a token or HSM (RFC 7512 URIs)
#                     The password or PIN comes from --password-file FILE or from the
#                     environment variable VELMORAN_SIGN_PASSWORD, never the command line
#                     (a PKCS#11 URI with pin-value= is refused). Each signing is
#                     bounded: VELMORAN_SIGN_TIMEOUT seconds (default 120).
#     --timestamp-url URL   an RFC 3161 timestamp server, so that signatures outlive
#                     the certificate
#
# It installs nothing: the README's test command (scripts/test.sh) installs what the builds
# need. A failure ends it with one line on standard error and leaves no dist/: the old one
# is removed first, and the new one appears only when every artifact is made and signed.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
fail() { echo "release.sh: $*" >&2; exit 1; }

allow_dirty= reuse_build= sign= pkcs12= module= key= cert= password_file= tsa= only=()
while [ $# -gt 0 ]; do
  case $1 in
    --allow-dirty) allow_dirty=1; shift; continue ;;
    --reuse-build) reuse_build=1; shift; continue ;;
    --sign) sign=1; shift; continue ;;
    -h | --help) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  esac
  [ $# -ge 2 ] || fail "$1 needs a value (see --help)"
  case $1 in
    --only) case $2 in amd64 | arm64 | armhf | win64) only+=("$2") ;; *) fail "--only takes amd64, arm64, armhf or win64, not '$2'" ;; esac ;;
    --pkcs12) pkcs12=$2 ;;
    --pkcs11-module) module=$2 ;;
    --pkcs11-key) key=$2 ;;
    --pkcs11-cert) cert=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp-url) tsa=$2 ;;
    *) fail "unknown option '$1' (see --help)" ;;
  esac
  shift 2
done
[ ${#only[@]} -gt 0 ] || only=(amd64 arm64 armhf win64)
making() { [[ " ${only[*]} " == *" $1 "* ]]; }
if [ -n "$sign" ]; then
  making win64 || fail "--sign signs the Windows programs: add --only win64"
  if [ -n "$pkcs12" ]; then
    [ -z "$module$key$cert" ] || fail "give either --pkcs12 or the --pkcs11 options, not both"
  elif [ -z "$module" ] || [ -z "$key" ] || [ -z "$cert" ]; then
    fail "--sign needs --pkcs12 FILE, or --pkcs11-module, --pkcs11-key and --pkcs11-cert"
  else
    # The URIs are printed when signing fails: a PIN inside one would be shown.
    [[ "$key$cert" != *pin-value=* ]] ||
      fail "a PKCS#11 URI with pin-value= would show the PIN: give it with --password-file or VELMORAN_SIGN_PASSWORD"
    # Else the token's engine asks for the PIN on the terminal, where the bound stops it.
    [ -n "$password_file${VELMORAN_SIGN_PASSWORD:-}" ] ||
      fail "the token's PIN is needed: give it with --password-file FILE or in VELMORAN_SIGN_PASSWORD"
  fi
elif [ -n "$pkcs12$module$key$cert$password_file$tsa" ]; then
  fail "signing options were given without --sign"
fi

# What the builds need, all of which the README's test command installs.
needed=(git cmake ar tar gzip sha256sum)
making amd64 && needed+=(g++ dpkg-shlibdeps)
making arm64 && needed+=(aarch64-linux-gnu-g++ dpkg-shlibdeps)
making armhf && needed+=(arm-linux-gnueabihf-g++ dpkg-shlibdeps)
making win64 && needed+=(x86_64-w64-mingw32-g++ wixl msibuild msiinfo faketime zip)
[ -z "$sign" ] || needed+=(osslsigncode openssl timeout)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null ||
    fail "$tool is not installed: run the README's test command (scripts/test.sh) once, which installs what releases need"
done
git rev-parse --git-dir >/dev/null 2>&1 || fail "$source is not a git checkout: a release is made from one"
if [ -z "$allow_dirty" ] && [ -n "$(git status --porcelain)" ]; then
  fail "the tree has changes not committed ($(git status --porcelain | wc -l) paths): commit them, or pass --allow-dirty"
fi

version=$(sed -n 's/^project(velmoran VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export LC_ALL=C

rm -rf dist
work=$source/build/release
[ -n "$reuse_build" ] || rm -rf "$work"
rm -rf "$work/dist" "$work"/*.log
mkdir -p "$work/dist"
private=$(mktemp -d)
trap 'rm -rf "$private" "$work/dist"' EXIT
# Ctrl-C or a stop ends the release, after the step it interrupted, with nothing made.
trap 'exit 130' INT
trap 'exit 143' TERM

# Signing. The password goes to osslsigncode in a file only this user can read.
signer=()
if [ -n "$sign" ]; then
  if [ -n "${VELMORAN_SIGN_PASSWORD:-}" ]; then
    [ -z "$password_file" ] || fail "give the password either in VELMORAN_SIGN_PASSWORD or with --password-file"
    printf '%s' "$VELMORAN_SIGN_PASSWORD" >"$private/password"
    password_file=$private/password
  fi
  # Not passed on to the compilers, CPack and wixl that run from here on.
  unset VELMORAN_SIGN_PASSWORD
  [ -z "$password_file" ] || [ -r "$password_file" ] || fail "cannot read the password file $password_file"
  if [ -n "$pkcs12" ]; then
    [ -r "$pkcs12" ] || fail "cannot read $pkcs12"
    passin=(-passin "file:${password_file:-/dev/null}")
    openssl pkcs12 -in "$pkcs12" -nokeys "${passin[@]}" -out /dev/null 2>/dev/null ||
      openssl pkcs12 -legacy -in "$pkcs12" -nokeys "${passin[@]}" -out /dev/null 2>/dev/null ||
      fail "the password does not open $pkcs12, or it is not a PKCS#12 file"
    signer=(-pkcs12 "$pkcs12")
  else
    [ -r "$module" ] || fail "no PKCS#11 module at $module"
    # osslsigncode reaches the module through OpenSSL's engine "pkcs11", found by its id: named
    # by its path, Debian 12's engine fails to start before it is told the module.
    [ -n "$(find /usr/lib -path '*/engines-3/pkcs11.so' -print -quit)" ] ||
      fail "OpenSSL's PKCS#11 engine is not installed (Debian package libengine-pkcs11-openssl)"
    signer=(-pkcs11module "$module" -key "$key")
    if [[ $cert == pkcs11:* ]]; then signer+=(-pkcs11cert "$cert"); else signer+=(-certs "$cert"); fi
  fi
  [ -z "$password_file" ] || signer+=(-readpass "$password_file")
fi
# sign FILE [TIMESTAMP_URL]: an Authenticode SHA-256 signature, in place. Bounded: a token or
# a timestamp server that never answers would hold the release. In the foreground, so that
# Ctrl-C reaches osslsigncode too.
sign() {
  local stamp=()
  [ -z "${2:-}" ] || stamp=(-ts "$2")
  rm -f "$1.signed"
  timeout --foreground "${VELMORAN_SIGN_TIMEOUT:-120}" osslsigncode sign "${signer[@]}" -h sha256 -n velmoran "${stamp[@]}" -in "$1" -out "$1.signed" \
    >"$private/sign.log" 2>&1 || { signed=$?; return 1; }
  mv "$1.signed" "$1"
}
# What osslsigncode said went wrong: its first line naming a failure, or its last line.
cause() {
  [ "${signed:-}" != 124 ] || { echo "no answer within ${VELMORAN_SIGN_TIMEOUT:-120} s"; return; }
  grep -m 1 -i -e error -e fail "$private/sign.log" || tail -n 1 "$private/sign.log"
}
# Before anything is built, the key, the certificate and the timestamp server are tried
# on an empty installer database: a wrong PIN, a missing token, an expired certificate or
# a silent server each ends the run here, with its own line.
if [ -n "$sign" ]; then
  trial=$private/trial.msi
  msibuild "$trial" -q "CREATE TABLE \`Trial\` (\`Key\` CHAR(8) NOT NULL PRIMARY KEY \`Key\`)" ||
    fail "msibuild could not make a database to try the signer on"
  cp "$trial" "$trial.blank"
  sign "$trial" || {
    [ -n "$pkcs12" ] && fail "osslsigncode cannot sign with $pkcs12: $(cause)"
    fail "the token gives no key $key or certificate $cert through $module (is it plugged in, is the PIN right?): $(cause)"
  }
  osslsigncode extract-signature -pem -in "$trial" -out "$private/signature.pem" >/dev/null 2>&1 &&
    openssl pkcs7 -print_certs -in "$private/signature.pem" -out "$private/chain.pem" 2>/dev/null ||
    fail "the trial signature holds no certificate"
  awk -v dir="$private" '/BEGIN CERT/ { n++; inside = 1 } inside { print >(dir "/cert" n ".pem") } /END CERT/ { inside = 0 }' \
    "$private/chain.pem"
  for certificate in "$private"/cert*.pem; do
    subject=$(openssl x509 -in "$certificate" -noout -subject -nameopt oneline | sed 's/^subject= *//')
    openssl x509 -in "$certificate" -noout -checkend 0 >/dev/null ||
      fail "the certificate '$subject' expired on $(openssl x509 -in "$certificate" -noout -enddate | cut -d= -f2)"
    [ "$(date -d "$(openssl x509 -in "$certificate" -noout -startdate | cut -d= -f2)" +%s)" -le "$(date +%s)" ] ||
      fail "the certificate '$subject' is not valid before $(openssl x509 -in "$certificate" -noout -startdate | cut -d= -f2)"
  done
  if [ -n "$tsa" ]; then
    cp "$trial.blank" "$trial"
    sign "$trial" "$tsa" || fail "the timestamp server $tsa did not answer with a timestamp: $(cause)"
  fi
fi

# build TARGET PRESET [TARGET_TO_BUILD]: the release preset without tests, in a folder of
# its own that this run began empty (or, with --reuse-build, as the last release left it).
build() {
  local dir=$work/$1 log=$work/$1.log
  [ -e "$log" ] || echo "release.sh: building $1 (log: ${log#"$source"/})"
  cmake --preset "$2" -B "$dir" -DBUILD_TESTING=OFF >>"$log" 2>&1 &&
    cmake --build "$dir" -j "$(nproc)" ${3:+--target "$3"} >>"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; fail "building $1 failed; the whole log is in $log"; }
}
for arch in amd64 arm64 armhf; do
  making $arch || continue
  preset=$arch && [ $arch != amd64 ] || preset=default
  build $arch $preset package
  cp "$work/$arch/velmoran_${version}_$arch.deb" "$work/$arch/velmoran-$version-linux-$arch.tar.gz" "$work/dist/"
done
if making win64; then
  # Linked again whatever is reused: a program an earlier run signed never goes into this one.
  rm -f "$work/win64/velmoran.exe" "$work/win64/velmoran-sim.exe"
  build win64 mingw velmoran
  build win64 mingw velmoran-sim
  if [ -n "$sign" ]; then
    for program in velmoran velmoran-sim; do
      sign "$work/win64/$program.exe" "$tsa" || fail "signing $program.exe failed: $(cause)"
    done
  fi
  # The MSI and the zip pack the programs as they now are.
  build win64 mingw
  build win64 mingw package
  cp "$work/win64/velmoran-$version-win64.zip" "$work/win64/velmoran-$version-x64.msi" "$work/dist/"
  if [ -n "$sign" ]; then
    sign "$work/dist/velmoran-$version-x64.msi" "$tsa" || fail "signing the MSI failed: $(cause)"
  fi
fi

(cd "$work/dist" && sha256sum -- * >SHA256SUMS)
mv "$work/dist" dist
echo "release.sh: made in dist/ for $(git describe --always --dirty) at $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')${sign:+, signed}:"
cat dist/SHA256SUMS
