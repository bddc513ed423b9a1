#!/usr/bin/env bash
# Makes the release zip from an already built tree: the plug-in, the install
# guides, the validator kit, the validator's report and the checksums, signed
# when a certificate is given. Called by `./run package` and by the tests, so
# it neither builds nor starts Wine: WINEPREFIX names a prepared prefix.
#   make_package.sh --build <build folder> --output <folder> [--sessions N] [--only <checks>]
#                   [--sign <certificate.p12> [--password-file <file>]
#                    [--timestamp-url <url>]]
# Everything is made in a scratch folder and moved into the output folder at
# the very end, so a failure leaves no half-made package there.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
USAGE="usage: make_package.sh --build <folder> --output <folder> [--sessions N] [--only <checks>] [--sign <certificate.p12> [--password-file <file>] [--timestamp-url <url>]]"
# The package's report is the same for the same plug-in: a fixed seed.
VALIDATION_SEED=20261208

die() {
  printf 'package: %s\n' "$*" >&2
  exit 1
}

build="" output="" sessions="" only="" certificate="" password_file="" timestamp_url=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build | --output | --sessions | --only | --sign | --password-file | --timestamp-url)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$1 needs a value; $USAGE"
      case "$1" in
        --build) build=$2 ;;
        --output) output=$2 ;;
        --sessions) sessions=$2 ;;
        --only) only=$2 ;;
        --sign) certificate=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp-url) timestamp_url=$2 ;;
      esac
      shift 2
      ;;
    *) die "unknown argument $1; $USAGE" ;;
  esac
done
[ -n "$build" ] && [ -n "$output" ] || die "$USAGE"
[ -z "$certificate" ] && { [ -n "$password_file" ] || [ -n "$timestamp_url" ]; } &&
  die "--password-file and --timestamp-url need --sign"
[ -z "$certificate" ] || [ -f "$certificate" ] || die "no certificate file $certificate"
[ -z "$password_file" ] || [ -f "$password_file" ] || die "no password file $password_file"
: "${WINEPREFIX:?WINEPREFIX must name the prefix the validator runs in}"

# Zip entries and signatures carry the last commit's time (or
# SOURCE_DATE_EPOCH), so the same sources make the same bytes.
package_time() {
  [ -n "${SOURCE_DATE_EPOCH:-}" ] && { echo "$SOURCE_DATE_EPOCH"; return; }
  git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 315532800
}

# The password goes to openssl by file name only, never on a command line.
openssl_password() {
  if [ -n "$password_file" ]; then echo "file:$password_file"; else echo "pass:"; fi
}

# Prints the certificate's subject once it is found fit to sign code now.
certificate_subject() {
  local pem
  pem=$(openssl pkcs12 -in "$certificate" -passin "$(openssl_password)" -nokeys -clcerts \
    2>/dev/null) || die "cannot open $certificate: wrong password or not a PKCS#12 file"
  [ -n "$pem" ] || die "$certificate holds no certificate"
  openssl x509 -noout -checkend 0 <<<"$pem" >/dev/null || die "the certificate in $certificate has expired"
  local not_before
  not_before=$(openssl x509 -noout -startdate <<<"$pem" | cut -d= -f2)
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    die "the certificate in $certificate is not valid before $not_before"
  openssl x509 -noout -ext extendedKeyUsage <<<"$pem" 2>/dev/null | grep -q 'Code Signing' ||
    die "the certificate in $certificate is not for code signing (no extendedKeyUsage codeSigning)"
  # RFC 2253 escapes anything outside ASCII, so the subject fits both guides.
  openssl x509 -noout -subject -nameopt RFC2253 <<<"$pem" | sed 's/^subject=//'
}

# Authenticode, SHA-256, at the package's fixed time.
sign_file() {
  local file=$1 stamp=$2
  local options=(-pkcs12 "$certificate" -h sha256 -time "$stamp")
  [ -n "$password_file" ] && options+=(-readpass "$password_file")
  [ -n "$timestamp_url" ] && options+=(-ts "$timestamp_url")
  osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1 ||
    die "signing $(basename "$file") failed: $(grep -v '^$' "$file.sign.log" | head -n1)"
  mv "$file.signed" "$file"
  rm -f "$file.sign.log"
}

# Text for Windows: CRLF line ends, in the given encoding. In the guides,
# lines marked [signed] or [unsigned] are kept for that kind of package only.
windows_text() {
  local encoding=$1 source=$2 target=$3
  local keep=unsigned drop=signed
  [ -n "$signer" ] && keep=signed drop=unsigned
  sed -e "/^\[$drop\] /d" -e "s/^\[$keep\] //" -e "s/@VERSION@/$version/" \
    -e "s|@SIGNER@|$(sed 's/[&|\\]/\\&/g' <<<"$signer")|" -e 's/$/\r/' "$source" |
    iconv -f UTF-8 -t "$encoding" >"$target" || die "cannot convert $source to $encoding"
}

winepath_of() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# The validator of the kit, as shipped, judges the plug-in as shipped; the
# report leaves out the scratch folder's path.
write_report() {
  local package=$1 report=$1/VALIDATION.txt
  local options=(--validate --seed "$VALIDATION_SEED" --log "$(winepath_of "$scratch/validate.log")")
  [ -n "$sessions" ] && options+=(--sessions "$sessions")
  [ -n "$only" ] && options+=(--only "$only")
  timeout 7200 wine "$package/validator/plugin-validator.exe" "${options[@]}" \
    "$(winepath_of "$package/VELSTTNG.QVX")" </dev/null >"$scratch/report.raw" ||
    {
      cat "$scratch/report.raw" >&2
      cp "$scratch/validate.log" "$build/package-validate.log" 2>/dev/null || true
      die "the packaged plug-in fails validation; see $build/package-validate.log"
    }
  {
    if [ -n "$signer" ]; then echo "Signed (Authenticode, SHA-256) by $signer"; else echo "Not signed"; fi
    grep -v '^Full log of every check:' "$scratch/report.raw" |
      sed "s|$(winepath_of "$package/" | sed 's/\\/\\\\/g')||"
  } | sed 's/$/\r/' >"$report"
}

signer=""
[ -n "$certificate" ] && signer=$(certificate_subject)
version=$(cat "$build/plugin-version.txt")
name=VELSTTNG-$version
stamp=$(package_time)
mkdir -p "$build"
scratch=$(mktemp -d "$build/package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
package=$scratch/$name
mkdir -p "$package/validator"

cp "$(cat "$build/plugin-path.txt")" "$package/VELSTTNG.QVX"
# strip stamps the header with the current time unless told the package's.
SOURCE_DATE_EPOCH=$stamp i686-w64-mingw32-strip -o "$package/validator/plugin-validator.exe" \
  "$build/standin_host/standin_host.exe"
cp "$build/standin_host/standin_host_noname.dll" "$package/validator/"
if [ -n "$signer" ]; then
  for file in VELSTTNG.QVX validator/plugin-validator.exe validator/standin_host_noname.dll; do
    sign_file "$package/$file" "$stamp"
  done
fi
windows_text ASCII "$ROOT/packaging/INSTALL-en.txt" "$package/INSTALL-en.txt"
windows_text CP932 "$ROOT/packaging/INSTALL-ja.txt" "$package/INSTALL-ja.txt"
windows_text ASCII "$ROOT/packaging/validate.cmd" "$package/validator/validate.cmd"
echo "==> validating the packaged plug-in with the packaged validator" >&2
write_report "$package"

(cd "$package" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs sha256sum >SHA256SUMS && sha256sum --quiet -c SHA256SUMS) ||
  die "checksums of the package do not verify"
find "$package" -type d -exec chmod 755 {} +
find "$package" -type f -exec chmod 644 {} +
find "$package" -exec touch -h -d "@$stamp" {} +
(cd "$scratch" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -@ "$name.zip") ||
  die "zip failed"

mkdir -p "$output"
mv -f "$scratch/$name.zip" "$output/$name.zip"
zip=$(cd "$output" && pwd)/$name.zip
echo "Package: $zip ($(stat -c %s "$zip") bytes), $([ -n "$signer" ] && echo "signed by $signer" || echo unsigned)"
(cd "$scratch" && find "$name" -type f | LC_ALL=C sort | sed "s|^$name/|  |")
echo "SHA-256: $(sha256sum "$zip" | cut -d' ' -f1)"
