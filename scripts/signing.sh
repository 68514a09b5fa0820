#!/usr/bin/env bash
# Signs the download with throwaway keys through the package command and checks that the
# signature verifies (and that the Store package holds the signed program), that taking it off gives the unsigned program back byte for byte,
# that a second signing gives the same zip, that the same key on a SoftHSM2 token
# (PKCS#11) gives the same zip as its PKCS#12 file, that a time-stamp from a local
# authority verifies, that the read-me has the user check a signature only when the
# program in the zip has one (signed by the package command, or before it, or not at
# all), and that a wrong password or PIN, a time-stamp server that is down, a missing
# SIGN_TIMESTAMP_URL or a signing setting without a key fails with no zip left.
# Reuses the build of the preset given (windows, the default, or windows-x86); called by
# scripts/test.sh after scripts/repro.sh, for each.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-windows}
out=build/$preset
tmp=$(mktemp -d "${TMPDIR:-/tmp}/morvane-signing.XXXXXX")
tsa=
trap '[ -z "$tsa" ] || kill "$tsa" 2>/dev/null; rm -rf "$tmp"' EXIT
# The signer's own settings must not leak into the cases below.
unset SIGN_PFX SIGN_PKCS11_MODULE SIGN_KEY SIGN_CERTS SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL

# A CA and, under it, a code-signing certificate, kept with its key and the CA in a
# PKCS#12 file, and a time-stamping certificate.
printf 'pass word\n' >"$tmp/pass"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Throwaway-CA -keyout "$tmp/ca.key" -out "$tmp/ca.pem" 2>/dev/null
certify() { # $1: the name, $2: the extended key usage
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway-$1" -keyout "$tmp/$1.key" -out "$tmp/csr" 2>/dev/null
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$tmp/ext"
  openssl x509 -req -in "$tmp/csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -CAcreateserial -extfile "$tmp/ext" -out "$tmp/$1.pem" 2>/dev/null
}
certify Signer codeSigning
certify TSA critical,timeStamping
openssl pkcs12 -export -inkey "$tmp/Signer.key" -in "$tmp/Signer.pem" -certfile "$tmp/ca.pem" -passout "file:$tmp/pass" -out "$tmp/cert.pfx"
cat "$tmp/Signer.pem" "$tmp/ca.pem" >"$tmp/chain.pem"
pfx=(SIGN_PFX="$tmp/cert.pfx" SIGN_PASSWORD_FILE="$tmp/pass")

# The same key on a throwaway token, in a scratch folder.
export SOFTHSM2_CONF=$tmp/softhsm2.conf
mkdir "$tmp/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$tmp/tokens" >"$SOFTHSM2_CONF"
pin=Throwaway-PIN-2718
softhsm2-util --init-token --free --label Throwaway --so-pin 87654321 --pin $pin >/dev/null
softhsm2-util --import "$tmp/Signer.key" --token Throwaway --label signer --id 01 --pin $pin >/dev/null
printf '%s\n' $pin >"$tmp/pin"
token=(SIGN_PKCS11_MODULE="$(ls /usr/lib/*/softhsm/libsofthsm2.so | head -n1)" SIGN_CERTS="$tmp/chain.pem"
  "SIGN_KEY=pkcs11:token=Throwaway;object=signer;type=private" SIGN_PASSWORD_FILE="$tmp/pin")

cmake --preset "$preset" >/dev/null
# Returns non-zero when the command fails or leaves a zip that SHA256SUMS does not match.
package() { # $1: where a copy of the zip goes, unpacked beside it; then the signing settings
  local copy=$1
  shift
  env "$@" cmake --build --preset "$preset" --target package >"$tmp/log" 2>&1 || return 1
  zip=$(cd "$out" && ls MorvaneShutdown-*-win*.zip)
  (cd "$out" && sha256sum -c SHA256SUMS) && cp "$out/$zip" "$copy" && mkdir "$copy.d" && (cd "$copy.d" && cmake -E tar xf "$copy")
}
# The read-me of an unpacked zip has the first heading and not the second.
readme() {
  grep -q "$2" "$1"/*/README.txt && ! grep -q "$3" "$1"/*/README.txt || { echo "README.txt in $1 says $3" >&2; exit 1; }
}
signed_says=【谁发布了这个程序】 unsigned_says=【这个下载没有数字签名】
package "$tmp/one.zip" "${pfx[@]}" SIGN_TIMESTAMP_URL=none || { cat "$tmp/log" >&2; exit 1; }
readme "$tmp/one.zip.d" "$signed_says" "$unsigned_says"
signed=$(ls "$tmp"/one.zip.d/*/MorvaneShutdown.exe)
osslsigncode verify -CAfile "$tmp/ca.pem" -in "$signed" | tee "$tmp/verify" | grep -E 'digest algorithm|Signing time|Subject|verification'
# Dated as the zip is (packaging/stamp.cmake), not by the clock.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1577836800)}
grep -Eq 'digest algorithm *: *SHA256' "$tmp/verify"
grep -q "Signing time: $(LC_ALL=C date -u -d "@$epoch" '+%b %e %T %Y')" "$tmp/verify"
mkdir "$tmp/msix.d" && (cd "$tmp/msix.d" && cmake -E tar xf "$OLDPWD/$out"/MorvaneShutdown-*.msix)
cmp "$tmp/msix.d/MorvaneShutdown.exe" "$signed" && echo "the Store package holds the zip's signed program"
osslsigncode remove-signature -in "$signed" -out "$tmp/unsigned.exe" >/dev/null
cmp "$tmp/unsigned.exe" "$out/MorvaneShutdown.exe"
echo "signature removed: the unsigned program, byte for byte"
# Signed again by someone with another umask in another time zone.
(umask 077 && export TZ=CST-8 && package "$tmp/two.zip" "${pfx[@]}" SIGN_TIMESTAMP_URL=none) || { cat "$tmp/log" >&2; exit 1; }
cmp "$tmp/one.zip" "$tmp/two.zip"
echo "signed twice: the same zip"
# RSA PKCS#1 v1.5 signatures are deterministic: the token's signature is the file's.
package "$tmp/token.zip" "${token[@]}" SIGN_TIMESTAMP_URL=none || { cat "$tmp/log" >&2; exit 1; }
cmp "$tmp/one.zip" "$tmp/token.zip"
echo "signed through PKCS#11: the same zip as with the PKCS#12 file"

# A time-stamp authority on a free port of 127.0.0.1, and one of its ports where nothing listens.
python3 tests/tools/timestamp_authority.py "$tmp/TSA.pem" "$tmp/TSA.key" "$tmp/ca.pem" "$tmp/ports" &
tsa=$!
until [ -s "$tmp/ports" ]; do kill -0 "$tsa"; sleep 0.1; done
read -r port down <"$tmp/ports"
package "$tmp/stamped.zip" "${token[@]}" SIGN_TIMESTAMP_URL="http://127.0.0.1:$port" || { cat "$tmp/log" >&2; exit 1; }
stamped=$(ls "$tmp"/stamped.zip.d/*/MorvaneShutdown.exe)
osslsigncode verify -CAfile "$tmp/ca.pem" -TSA-CAfile "$tmp/ca.pem" -in "$stamped" >"$tmp/verify"
grep -E 'Timestamp time|CN=Throwaway-TSA|verification: ok|^Succeeded' "$tmp/verify"
[ "$(grep -cE '^(Timestamp Server )?Signature verification: ok' "$tmp/verify")" = 2 ]
osslsigncode remove-signature -in "$stamped" -out "$tmp/unstamped.exe" >/dev/null
cmp "$tmp/unstamped.exe" "$out/MorvaneShutdown.exe"
echo "time-stamped: verifies; signature removed, the unsigned program"

# No key: unsigned, or signed in the build folder by another tool before packaging.
package "$tmp/plain.zip" || { cat "$tmp/log" >&2; exit 1; }
readme "$tmp/plain.zip.d" "$unsigned_says" "$signed_says"
mv "$out/MorvaneShutdown.exe" "$tmp/built.exe"
osslsigncode sign -pkcs12 "$tmp/cert.pfx" -readpass "$tmp/pass" -h sha256 -in "$tmp/built.exe" -out "$out/MorvaneShutdown.exe" >/dev/null
made=0 && package "$tmp/outside.zip" || made=1
mv "$tmp/built.exe" "$out/MorvaneShutdown.exe" && [ $made = 0 ] || { cat "$tmp/log" >&2; exit 1; }
readme "$tmp/outside.zip.d" "$signed_says" "$unsigned_says"
echo "read-me: the signed one in signed zips, the unsigned one in the unsigned zip"

# Each fails, saying why, and takes the zip and SHA256SUMS of a run before with it.
printf 'wrong\n' >"$tmp/wrong"
failing() { # $1: what the log must say; then the signing settings
  local says=$1
  shift
  cp "$tmp/one.zip" "$out/$zip" && echo stale >"$out/SHA256SUMS"
  if package "$tmp/failed.zip" "$@"; then echo "made a zip: $*" >&2; exit 1; fi
  tr -s ' \n' ' ' <"$tmp/log" >"$tmp/said" # as one line: CMake wraps its messages
  grep -q "Signing MorvaneShutdown.exe failed" "$tmp/said" && grep -q "$says" "$tmp/said" || { cat "$tmp/log" >&2; exit 1; }
  if grep -q "$pin" "$tmp/log"; then echo "the PIN is in the log" >&2; exit 1; fi
  if ls "$out"/MorvaneShutdown-*-win*.zip "$out/SHA256SUMS" 2>/dev/null; then echo "a zip was left: $*" >&2; exit 1; fi
  echo "fails, no zip: $says"
}
failing "Wrong password" SIGN_PFX="$tmp/cert.pfx" SIGN_PASSWORD_FILE="$tmp/wrong" SIGN_TIMESTAMP_URL=none
failing "PIN incorrect" "${token[@]}" SIGN_PASSWORD_FILE="$tmp/wrong" SIGN_TIMESTAMP_URL=none
failing "timestamping failed" "${token[@]}" SIGN_TIMESTAMP_URL="http://127.0.0.1:$down"
failing "SIGN_TIMESTAMP_URL is not set" "${token[@]}"
failing "one way only" "${token[@]}" SIGN_PFX="$tmp/cert.pfx" SIGN_TIMESTAMP_URL=none
failing "SIGN_CERTS must be an absolute path" "${token[@]}" SIGN_CERTS=chain.pem SIGN_TIMESTAMP_URL=none
failing "SIGN_KEY holds the PIN" "${token[@]}" "SIGN_KEY=pkcs11:token=Throwaway;object=signer;pin-value=$pin" SIGN_TIMESTAMP_URL=none
failing "SIGN_PASSWORD_FILE and SIGN_TIMESTAMP_URL set, but no key" SIGN_PASSWORD_FILE="$tmp/pass" SIGN_TIMESTAMP_URL=none
failing "SIGN_CERTS set, but no key" SIGN_CERTS="$tmp/chain.pem"
