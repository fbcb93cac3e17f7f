#!/usr/bin/env bash
# The Windows release as scripts/release.sh makes it from the checkout's working tree, in
# two parts that run side by side (the first builds nothing, the second builds):
#   release-test.sh refusals SOURCE
#   release-test.sh release SOURCE VERSION BUILD_DIR SIGNED_DIR
#   BUILD_DIR is the test run's Windows build, with the zip and the MSI's files it packed;
#   the signed MSI and the files it holds are left in SIGNED_DIR, for msi-test.sh to
#   install under Wine.
#   1. refusals: a tree with changes, or signing that cannot work, ends the run before anything is
#      built, with one line and no dist/: a wrong PKCS#12 password, an expired
#      certificate, a token that is not there, a wrong PIN, a token with no PIN given, a
#      PIN inside a PKCS#11 URI (not shown), a timestamp server that refuses, one that
#      accepts and never answers (within the bound set for the test). Ctrl-C while it
#      signs ends it, with nothing made.
#   2. release: an unsigned release in another folder, under another TZ and umask, later: the same
#      zip and MSI as the test run's own build packs.
#   3. A signed one from that release's objects, linked and packed again, nothing compiled:
#      the key on a SoftHSM2 token, its certificate from a CA made here, timestamps from a
#      local RFC 3161 server (openssl ts behind socat). Each program verifies against that
#      CA in the zip and in the MSI, and so does the MSI, each timestamped; another CA, or
#      a byte changed in a signed program, fails. Without their signatures the programs
#      are the unsigned release's, byte for byte, and every other file in the zip and the
#      MSI is the same.
set -euo pipefail
part=$1
case $part in
  refusals) source=$(cd "$2" && pwd) ;;
  release) source=$(cd "$2" && pwd) version=$3 build=$4 signed_dir=$5 && rm -rf "$signed_dir" ;;
  *) echo "usage: release-test.sh refusals SOURCE | release SOURCE VERSION BUILD_DIR SIGNED_DIR" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'kill ${servers[@]:-} 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "release-test: $*" >&2; exit 1; }

. "$here/copy-checkout.sh"
copy() { copy_checkout "$source" "$1"; }

# A CA, a code-signing certificate and a timestamping one under it, all made here.
pki=$scratch/pki
mkdir -p "$pki"
certify() { # certify NAME SUBJECT EXTENSIONS [FAKETIME]: NAME.key, NAME.pem, under the CA
  local name=$1 at=()
  [ -z "${4:-}" ] || at=(faketime "$4")
  openssl req -newkey rsa:2048 -nodes -keyout "$pki/$name.key" -out "$pki/$name.csr" -subj "$2" 2>/dev/null
  printf '%b' "$3" >"$pki/$name.ext"
  "${at[@]}" openssl x509 -req -in "$pki/$name.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
    -CAcreateserial -days 2 -extfile "$pki/$name.ext" -out "$pki/$name.pem" 2>/dev/null
}
for ca in ca other-ca; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/$ca.key" -out "$pki/$ca.pem" -days 2 \
    -subj "/CN=velmoran release test $ca" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
done
signing='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
certify signer "/CN=velmoran release test signer" "$signing"
certify expired "/CN=velmoran release test expired signer" "$signing" "$(date -u -d '-10 days' '+%Y-%m-%d %H:%M:%S')"
certify tsa "/CN=velmoran release test TSA" \
  'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
printf 'release password\n' >"$pki/password"
for name in signer expired; do
  openssl pkcs12 -export -inkey "$pki/$name.key" -in "$pki/$name.pem" -certfile "$pki/ca.pem" \
    -passout "file:$pki/password" -out "$pki/$name.p12"
done

# The token: the signer's key and certificate under the label "signer", PIN 1234.
export SOFTHSM2_CONF=$scratch/softhsm2.conf
module=$(find /usr/lib -name libsofthsm2.so -path '*softhsm*' -print -quit)
[ -n "$module" ] || fail "no SoftHSM2 module (Debian package softhsm2)"
mkdir "$scratch/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$scratch/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label velmoran-release-test --pin 1234 --so-pin 123456 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$pki/signer.key" -out "$pki/signer.pk8"
softhsm2-util --import "$pki/signer.pk8" --token velmoran-release-test --label signer --id 01 --pin 1234 >/dev/null
openssl x509 -in "$pki/signer.pem" -outform DER -out "$pki/signer.der"
pkcs11-tool --module "$module" --token-label velmoran-release-test --login --pin 1234 \
  --write-object "$pki/signer.der" --type cert --id 01 --label signer >/dev/null
token='pkcs11:token=velmoran-release-test;object=signer'
printf '1234' >"$pki/pin"

# The timestamp server, on a port of the kernel's choosing.
cat >"$pki/tsa.cnf" <<EOF
[ tsa ]
default_tsa = velmoran_test
[ velmoran_test ]
serial = $pki/tsa.serial
signer_cert = $pki/tsa.pem
signer_key = $pki/tsa.key
certs = $pki/ca.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
ordering = no
EOF
echo 01 >"$pki/tsa.serial"
# serve VARIABLE NAME COMMAND: a server on a port of the kernel's choosing that runs
# COMMAND for each connection; its address in VARIABLE, its PID in servers.
servers=()
serve() {
  socat -d -d TCP-LISTEN:0,bind=127.0.0.1,reuseaddr,fork EXEC:"$3" >/dev/null 2>"$scratch/$2.log" &
  servers+=($!)
  local port=
  for _ in $(seq 50); do
    port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$scratch/$2.log")
    [ -z "$port" ] || break
    sleep 0.1
  done
  [ -n "$port" ] || fail "the $2 server did not start: $(cat "$scratch/$2.log")"
  printf -v "$1" 'http://127.0.0.1:%s/' "$port"
}
serve tsa timestamp "$here/tsa-answer.sh $pki/tsa.cnf"
# Nothing listens on the discard port here: the connection is refused at once.
silent=http://127.0.0.1:9/

# 1. Refusals, before any build.
if [ "$part" = refusals ]; then
  # This one takes the connection and never answers.
  serve hung hung "sleep 60"
  release=$scratch/refusals/velmoran
  copy "$release"
  mkdir "$release/dist"
  refused() { # refused EXPECTED_LINE_PATTERN RELEASE_OPTIONS...
    local pattern=$1 status=0
    shift
    "$release/scripts/release.sh" --allow-dirty --only win64 --sign "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
    [ "$status" -eq 1 ] || fail "release.sh $* ended with $status, not 1: $(cat "$scratch/err")"
    [ "$(wc -l <"$scratch/err")" -eq 1 ] && grep -q -E "^release.sh: $pattern" "$scratch/err" ||
      fail "release.sh $* said: $(cat "$scratch/err")"
    [ ! -e "$release/dist" ] || fail "release.sh $* left a dist/"
    [ ! -e "$release/build/release/win64" ] || fail "release.sh $* built before it failed"
    echo "refused: $(cat "$scratch/err")"
  }
  echo wrong >"$pki/wrong"
  # The copy's index is empty, so git sees every file as changed: refused unless asked.
  status=0
  "$release/scripts/release.sh" --only win64 2>"$scratch/err" || status=$?
  [ "$status" -eq 1 ] && grep -qx "release.sh: the tree has changes not committed (.*): commit them, or pass --allow-dirty" \
    "$scratch/err" || fail "release.sh in a changed tree ended with $status: $(cat "$scratch/err")"
  refused "the password does not open .*signer.p12" --pkcs12 "$pki/signer.p12" --password-file "$pki/wrong"
  refused "the certificate '.*expired signer' expired on " --pkcs12 "$pki/expired.p12" --password-file "$pki/password"
  refused "the token gives no key .*velmoran-absent" --pkcs11-module "$module" --pkcs11-key "pkcs11:token=velmoran-absent;object=signer" \
    --pkcs11-cert "pkcs11:token=velmoran-absent;object=signer" --password-file "$pki/pin"
  refused "the token gives no key" --pkcs11-module "$module" --pkcs11-key "$token" --pkcs11-cert "$token" \
    --password-file "$pki/wrong"
  VELMORAN_SIGN_PASSWORD='release password' refused "the timestamp server $silent did not answer" \
    --pkcs12 "$pki/signer.p12" --timestamp-url "$silent"
  VELMORAN_SIGN_TIMEOUT=5 VELMORAN_SIGN_PASSWORD='release password' refused "the timestamp server $hung did not answer" \
    --pkcs12 "$pki/signer.p12" --timestamp-url "$hung"
  refused "the token's PIN is needed" --pkcs11-module "$module" --pkcs11-key "$token" --pkcs11-cert "$token"
  refused "a PKCS#11 URI with pin-value= would show the PIN" --pkcs11-module "$module" \
    --pkcs11-key "$token;pin-value=SECRET4321" --pkcs11-cert "$token" --password-file "$pki/pin"
  ! grep -q SECRET4321 "$scratch/err" "$scratch/out" || fail "release.sh printed the PIN of a pkcs11 URI"

  # Ctrl-C while osslsigncode signs (a stand-in that waits): the release ends, nothing made.
  # In a session of its own, with Ctrl-C's default action, as from a terminal (a command this
  # script starts in the background would ignore it).
  mkdir "$scratch/stalling"
  printf '#!/bin/sh\ntouch "%s/signing"\nexec sleep 60\n' "$scratch" >"$scratch/stalling/osslsigncode"
  chmod +x "$scratch/stalling/osslsigncode"
  PATH=$scratch/stalling:$PATH VELMORAN_SIGN_PASSWORD='release password' setsid env --default-signal=INT \
    "$release/scripts/release.sh" \
    --allow-dirty --only win64 --sign --pkcs12 "$pki/signer.p12" >"$scratch/out" 2>"$scratch/err" &
  signing=$!
  for _ in $(seq 300); do [ ! -e "$scratch/signing" ] || break; sleep 0.1; done
  [ -e "$scratch/signing" ] || fail "release.sh never came to sign: $(cat "$scratch/err")"
  kill -INT -- -"$signing"
  stopped=$SECONDS status=0
  wait "$signing" || status=$?
  [ "$status" -eq 130 ] && [ $((SECONDS - stopped)) -lt 30 ] ||
    fail "Ctrl-C while signing: release.sh ended with $status after $((SECONDS - stopped)) s"
  [ ! -e "$release/dist" ] && [ ! -e "$release/build/release/win64" ] || fail "release.sh went on after Ctrl-C"
  echo "refused: Ctrl-C while signing ended the release ($status), nothing made"
  exit 0
fi

# 2. An unsigned release, elsewhere, in another time zone and umask, later than the test
# run's build: the same bytes. The releases build at the lowest priority: the cases beside
# this one time replies to the millisecond.
other=$scratch/elsewhere/deeper/velmoran
copy "$other"
(umask 077 && TZ=Pacific/Chatham nice -n 19 "$other/scripts/release.sh" --allow-dirty --only win64) || fail "the release failed"
# The MSI is packed again here from the files the test run's build packed it from: the one
# the build left may carry an earlier commit's time (nothing it holds changed since).
"$source/packaging/build-msi.sh" "$scratch/velmoran-$version-x64.msi" "$version" "$build/msi-files" >/dev/null ||
  fail "the test run's files did not pack into an MSI"
for artifact in "$build/velmoran-$version-win64.zip" "$scratch/velmoran-$version-x64.msi"; do
  cmp "$artifact" "$other/dist/${artifact##*/}" || fail "${artifact##*/} differs from the test run's own build"
done
echo "the release and the test run's build, the same bytes:"
cat "$other/dist/SHA256SUMS"

# 3. Signed, with the token and the timestamp server, from the objects just compiled.
mv "$other/dist" "$scratch/unsigned"
touch "$scratch/before-signing"
# The PIN in VELMORAN_SIGN_PASSWORD: every signing step after the builds (a probe in front of
# osslsigncode writes down its environment) runs without it.
mkdir "$scratch/probe"
printf '#!/bin/sh\nenv >>"%s/probe.env"\nexec "%s" "$@"\n' "$scratch" "$(command -v osslsigncode)" \
  >"$scratch/probe/osslsigncode"
chmod +x "$scratch/probe/osslsigncode"
PATH=$scratch/probe:$PATH VELMORAN_SIGN_PASSWORD=1234 nice -n 19 "$other/scripts/release.sh" --allow-dirty \
  --only win64 --reuse-build --sign --pkcs11-module "$module" --pkcs11-key "$token" --pkcs11-cert "$token" \
  --timestamp-url "$tsa" || fail "the signed release failed"
[ "$(grep -c '^PATH=' "$scratch/probe.env")" -ge 4 ] || fail "the probe saw fewer signing steps than four"
! grep -q '^VELMORAN_SIGN_PASSWORD=' "$scratch/probe.env" || fail "the PIN stayed in the release's environment"
compiled=$(find "$other/build/release/win64" -name '*.obj' -newer "$scratch/before-signing")
[ -z "$compiled" ] || fail "the signed release compiled again: $compiled"
signed=$other/dist
unpack() { # unpack DIST FOLDER: the zip's and the MSI's files in FOLDER/zip and FOLDER/msi
  mkdir -p "$2/zip" "$2/msi"
  (cd "$2/zip" && cmake -E tar xf "$1/velmoran-$version-win64.zip")
  msiextract -C "$2/msi" "$1/velmoran-$version-x64.msi" >/dev/null
}
unpack "$signed" "$scratch/signed-files"
unpack "$scratch/unsigned" "$scratch/unsigned-files"
verifies() { # verifies FILE CA: a timestamped signature that CA vouches for (osslsigncode
  # 2.5, Debian 12, says "The signature is timestamped"; 2.9 lists a "Timestamp time")
  osslsigncode verify -CAfile "$2" -TSA-CAfile "$pki/ca.pem" -in "$1" >"$scratch/verify" 2>&1 &&
    grep -q -E "^The signature is timestamped|^[[:space:]]*Timestamp time:" "$scratch/verify"
}
for file in "$signed/velmoran-$version-x64.msi" "$scratch"/signed-files/zip/*/velmoran*.exe \
  "$scratch"/signed-files/msi/velmoran/velmoran*.exe; do
  verifies "$file" "$pki/ca.pem" || fail "${file#"$scratch"/} does not verify: $(cat "$scratch/verify")"
  ! verifies "$file" "$pki/other-ca.pem" || fail "${file#"$scratch"/} verifies against another CA"
  echo "verified, timestamped: ${file#"$scratch"/}"
done
tampered=$scratch/tampered.exe
cp "$scratch"/signed-files/zip/*/velmoran.exe "$tampered"
byte=$(od -A n -t u1 -j 5000 -N 1 "$tampered" | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$tampered" bs=1 seek=5000 conv=notrunc status=none
! verifies "$tampered" "$pki/ca.pem" || fail "a signed velmoran.exe with a byte changed still verifies"
# Without their signatures, the programs are the unsigned ones; all else is the same.
(cd "$scratch/signed-files" && find . -type f | sort) >"$scratch/listing"
[ "$(wc -l <"$scratch/listing")" -eq 14 ] || fail "the signed zip and MSI hold: $(cat "$scratch/listing")"
while read -r file; do
  if [[ $file == *.exe ]]; then
    rm -f "$scratch/stripped.exe"
    osslsigncode remove-signature -in "$scratch/signed-files/$file" -out "$scratch/stripped.exe" >/dev/null ||
      fail "$file has no signature to remove"
    cmp "$scratch/stripped.exe" "$scratch/unsigned-files/$file" || fail "$file without its signature is not the unsigned one"
  else
    cmp "$scratch/signed-files/$file" "$scratch/unsigned-files/$file" || fail "signing changed $file"
  fi
done <"$scratch/listing"
echo "signed with the token, timestamped; without their signatures the programs are the unsigned release's"

mkdir -p "$signed_dir"
cp -R "$signed/velmoran-$version-x64.msi" "$other/build/release/win64/msi-files" "$signed_dir/"
