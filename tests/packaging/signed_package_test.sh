#!/usr/bin/env bash
# Signed packages from throwaway certificates made here: refused signings
# leave nothing behind, two packagings are byte-identical, every signed file
# verifies against the certificate, and the signed plug-in still passes the
# binary check and the validator's file check.
#   signed_package_test.sh <source folder> <build folder> <work folder> <objdump>
set -uo pipefail
root=$1 build=$2 work=$3 objdump=$4
failures=0
fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work/keys"
keys=$work/keys
printf 'throwaway-%s\n' "$RANDOM$RANDOM" >"$keys/password"
printf 'not-the-password\n' >"$keys/wrong"
make_certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$keys/$1.key" -out "$keys/$1.pem" \
    -subj "/O=Throwaway/CN=Package test $1" -addext "extendedKeyUsage=$2" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$keys/$1.key" -in "$keys/$1.pem" -out "$keys/$1.p12" \
      -passout "file:$keys/password"
}
make_certificate signer codeSigning && make_certificate web serverAuth || {
  echo "FAIL: openssl could not make the certificates"
  exit 1
}
package() {
  local output=$1
  shift
  bash "$root/packaging/make_package.sh" --build "$build" --output "$output" --sessions 0 "$@"
}

# row | signing options | words the one-line error must hold
while IFS='|' read -r row options expected; do
  output=$work/refused-$row
  # shellcheck disable=SC2086
  (cd "$keys" && package "$output" $options) >"$output.out" 2>"$output.err"
  status=$?
  [ "$status" -ne 0 ] || fail "$row: exit status 0"
  [ "$(wc -l <"$output.err")" -eq 1 ] || fail "$row: not a one-line error: $(cat "$output.err")"
  grep -q "$expected" "$output.err" || fail "$row: error lacks '$expected': $(cat "$output.err")"
  [ -z "$(ls -A "$output" 2>/dev/null)" ] || fail "$row: left $(ls -A "$output") in the output folder"
done <<'ROWS'
wrong-password|--sign signer.p12 --password-file wrong|wrong password
not-for-code-signing|--sign web.p12 --password-file password|not for code signing
missing-certificate|--sign absent.p12 --password-file password|no certificate file
ROWS

signing=(--sign "$keys/signer.p12" --password-file "$keys/password")
package "$work/first" "${signing[@]}" >"$work/first.log" 2>&1 || fail "signed packaging: $(tail -n3 "$work/first.log")"
package "$work/second" "${signing[@]}" >"$work/second.log" 2>&1 || fail "second packaging failed"
cmp -s "$work"/first/*.zip "$work"/second/*.zip || fail "two packagings of the same sources differ"
grep -rqF "$(cat "$keys/password")" "$work"/*.log "$work"/*.out "$work"/*.err &&
  fail "the password appears in the output"

unzip -q "$work"/first/*.zip -d "$work/unzipped" || fail "the signed zip does not unzip"
package_folder=$(echo "$work"/unzipped/VELSTTNG-*)
for file in VELSTTNG.QVX validator/plugin-validator.exe validator/standin_host_noname.dll; do
  osslsigncode verify -CAfile "$keys/signer.pem" -in "$package_folder/$file" >"$work/verify.log" 2>&1 ||
    fail "$file: signature does not verify: $(grep -i -m1 'fail\|error' "$work/verify.log")"
done
bash "$root/tests/plugin/binary/check_dll.sh" "$objdump" "$package_folder/VELSTTNG.QVX" VELSTTNG.QVX ||
  fail "the signed plug-in fails the binary check"
timeout 600 wine "$build/standin_host/standin_host.exe" --validate --only file --sessions 0 \
  "Z:$(tr / '\\' <<<"$package_folder/VELSTTNG.QVX")" </dev/null >"$work/file-check.log" 2>&1 ||
  fail "the signed plug-in fails the validator's file check: $(cat "$work/file-check.log")"
for text in VALIDATION.txt INSTALL-en.txt; do
  grep -q 'CN=Package test signer,O=Throwaway' "$package_folder/$text" ||
    fail "$text does not name the signer"
done

[ "$failures" -eq 0 ] || exit 1
echo "signed package: 3 refusals, identical zips, 3 signatures verified, binary and file checks pass"
