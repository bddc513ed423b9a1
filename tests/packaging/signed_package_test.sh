#!/usr/bin/env bash
# Packages signed with throwaway certificates: refusals leave nothing behind,
# two packagings are byte-identical, each signed file verifies, and the signed
# plug-in passes the binary check and the validator's file check.
#   signed_package_test.sh <source folder> <build folder> <work folder> <objdump>
set -uo pipefail
root=$1 build=$2 work=$3 objdump=$4 failures=0 keys=$3/keys
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
# The report in these packages judges only the file: the full run is the kit test's.
package() {
  bash "$root/packaging/make_package.sh" --build "$build" --sessions 0 --only file --output "$@"
}
rm -rf "$work" && mkdir -p "$keys" && cd "$keys" || exit 1
echo "throwaway-$RANDOM$RANDOM" >password && echo wrong >wrong
for usage in codeSigning serverAuth; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout $usage.key -out $usage.pem \
    -subj "/O=Throwaway/CN=Test $usage" -addext "extendedKeyUsage=$usage" 2>/dev/null &&
    openssl pkcs12 -export -inkey $usage.key -in $usage.pem -out $usage.p12 -passout file:password ||
    exit 1
done
openssl x509 -in codeSigning.pem -signkey codeSigning.key -days -1 2>/dev/null |
  openssl pkcs12 -export -inkey codeSigning.key -out expired.p12 -passout file:password || exit 1

while IFS='|' read -r row options expected; do # each: one line, nothing left
  package "$work/$row" $options >/dev/null 2>"$work/$row.err" && fail "$row: exit status 0"
  [ "$(wc -l <"$work/$row.err")" -eq 1 ] && grep -q "$expected" "$work/$row.err" ||
    fail "$row: expected one line with '$expected': $(cat "$work/$row.err")"
  [ -z "$(ls -A "$work/$row" 2>/dev/null)" ] || fail "$row: left files in the output folder"
done <<'ROWS'
wrong-password|--sign codeSigning.p12 --password-file wrong|wrong password
not-for-code-signing|--sign serverAuth.p12 --password-file password|not for code signing
expired|--sign expired.p12 --password-file password|has expired
missing-certificate|--sign absent.p12|no certificate file
ROWS

for run in first second; do
  package "$work/$run" --sign codeSigning.p12 --password-file password >"$work/$run.log" 2>&1 ||
    fail "$run signed packaging: $(tail -n2 "$work/$run.log")"
done
cmp "$work"/first/*.zip "$work"/second/*.zip || fail "two packagings of the same sources differ"
grep -qF "$(cat password)" "$work"/*.log "$work"/*.err && fail "the password appears in the output"
unzip -q "$work"/first/*.zip -d "$work/unzipped" && cd "$work"/unzipped/VELSTTNG-* || exit 1
for file in VELSTTNG.QVX validator/plugin-validator.exe validator/standin_host_noname.dll; do
  osslsigncode verify -CAfile "$keys/codeSigning.pem" -in $file >/dev/null || fail "$file: no valid signature"
done
bash "$root/tests/plugin/binary/check_dll.sh" "$objdump" VELSTTNG.QVX VELSTTNG.QVX || fail "binary check"
timeout 600 wine "$build/standin_host/standin_host.exe" --validate --only file --sessions 0 \
  VELSTTNG.QVX </dev/null || fail "the validator's file check"
grep -c 'CN=Test codeSigning,O=Throwaway' VALIDATION.txt INSTALL-en.txt | grep ':0$' && fail "signer not named"
exit $((failures > 0))
