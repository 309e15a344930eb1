#!/usr/bin/env bash
# Signed releases, end to end and offline: a throwaway certificate authority,
# a code-signing and a time-stamping certificate made with openssl; a time-stamp
# service on the loopback address (openssl ts behind a small HTTP handler);
# scripts/release signing with a PKCS#12 file and with the same key on a
# SoftHSM2 token; scripts/verify-release on good and bad files; and the signed
# uninstaller removing a sample installation under Wine.
#
#   signing_test.sh [BUILD_DIR]     (default: build-signing/; kept between runs)
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build-signing}
mkdir -p "$build"; build=$(cd "$build" && pwd)
"$src/scripts/setup" || exit 1

tmp=$(mktemp -d)
tsa_pid=
cleanup() {
  [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null
  "$src/scripts/wine-session" stop "$build/wine" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT

passed=0 failed=0
ok() { echo "ok   $1"; passed=$((passed + 1)); }
not_ok() {
  echo "FAIL $1"; failed=$((failed + 1))
  [ ! -s "$tmp/out" ] || sed 's/^/       /' "$tmp/out" | tail -20
}
# check NAME COMMAND...: the command's output goes to $tmp/out.
check() {
  local name=$1; shift
  if "$@" >"$tmp/out" 2>&1; then ok "$name"; else not_ok "$name"; fi
}
# refuses NAME PATTERN COMMAND...: the command fails and says PATTERN.
refuses() {
  local name=$1 pattern=$2; shift 2
  if "$@" >"$tmp/out" 2>&1; then not_ok "$name (it succeeded)"
  elif grep -qE "$pattern" "$tmp/out"; then ok "$name"
  else not_ok "$name (no \"$pattern\")"; fi
}
finish() { echo "$passed passed, $failed failed"; [ $failed = 0 ]; exit $?; }

# --- The authorities and certificates ------------------------------------
pki=$tmp/pki
mkdir -p "$pki"
cat >"$pki/openssl.cnf" <<EOF
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign_ext]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
[tsa_ext]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
authorityKeyIdentifier = keyid
# A look-alike of the root, with a payload no digest covers.
[payload_ext]
basicConstraints = critical, CA:true
1.3.6.1.4.1.99999.2 = ASN1:UTF8String:a payload the digest never covers
# What openssl ts -reply reads.
[tsa]
default_tsa = tsa_section
[tsa_section]
serial = $pki/tsa-serial
signer_cert = $pki/tsa.pem
signer_key = $pki/tsa.key
certs = $pki/tsa-chain.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
# make_cert NAME SUBJECT EXTENSIONS ISSUER (ISSUER empty: self-signed)
make_cert() {
  local name=$1 subject=$2 ext=$3 issuer=$4
  if [ -z "$issuer" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 7 -keyout "$pki/$name.key" \
      -out "$pki/$name.pem" -subj "$subject" -config "$pki/openssl.cnf" -extensions "$ext"
  else
    openssl req -new -newkey rsa:2048 -nodes -keyout "$pki/$name.key" -out "$pki/$name.csr" \
      -subj "$subject" -config "$pki/openssl.cnf" &&
    openssl x509 -req -in "$pki/$name.csr" -CA "$pki/$issuer.pem" -CAkey "$pki/$issuer.key" \
      -CAcreateserial -days 7 -out "$pki/$name.pem" -extfile "$pki/openssl.cnf" -extensions "$ext"
  fi
}
{
  make_cert ca "/CN=Vorblend Test Root" ca_ext "" &&
  make_cert codesign "/O=Brenhow Test/CN=Brenhow Test Code Signing" codesign_ext ca &&
  make_cert tsaca "/CN=Vorblend Test Time Stamp Authority" ca_ext ca &&
  make_cert tsa "/CN=Vorblend Test Time Stamps" tsa_ext tsaca &&
  cat "$pki/tsaca.pem" "$pki/ca.pem" >"$pki/tsa-chain.pem" &&
  make_cert otherca "/CN=Some Other Root" ca_ext "" &&
  make_cert othersign "/CN=Brenhow Look-alike" codesign_ext otherca &&
  make_cert lookalike "/CN=Vorblend Test Root" payload_ext "" &&
  echo 01 >"$pki/tsa-serial" &&
  printf 'correct horse battery\n' >"$pki/password" &&
  printf 'not the password\n' >"$pki/wrong-password" &&
  openssl pkcs12 -export -inkey "$pki/codesign.key" -in "$pki/codesign.pem" -certfile "$pki/ca.pem" \
    -out "$pki/codesign.p12" -passout "file:$pki/password"
} >"$tmp/out" 2>&1 || { not_ok "making the certificates"; finish; }

# --- The time-stamp service ----------------------------------------------
cat >"$tmp/tsa.py" <<'EOF'
import http.server, os, subprocess, sys, tempfile

class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as folder:
            tsq, tsr = os.path.join(folder, "q"), os.path.join(folder, "r")
            with open(tsq, "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1],
                            "-queryfile", tsq, "-out", tsr], check=True, capture_output=True)
            with open(tsr, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass

server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
python3 "$tmp/tsa.py" "$pki/openssl.cnf" >"$tmp/tsa.port" 2>"$tmp/tsa.log" &
tsa_pid=$!
for _ in $(seq 50); do [ -s "$tmp/tsa.port" ] && break; sleep 0.1; done
[ -s "$tmp/tsa.port" ] || { cp "$tmp/tsa.log" "$tmp/out"; not_ok "starting the time-stamp service"; finish; }
tsa=http://127.0.0.1:$(cat "$tmp/tsa.port")/
# Nothing listens on port 1: the first server named fails, the next one answers.
dead=http://127.0.0.1:1/

# --- The key on a token ---------------------------------------------------
module=/usr/lib/softhsm/libsofthsm2.so
export SOFTHSM2_CONF=$tmp/softhsm2.conf
mkdir -p "$tmp/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$tmp/tokens" >"$SOFTHSM2_CONF"
printf '2468\n' >"$pki/pin"
printf '1357\n' >"$pki/wrong-pin"
{
  softhsm2-util --init-token --free --label vorblend-release --so-pin 97531 --pin 2468 &&
  openssl pkcs8 -topk8 -nocrypt -in "$pki/codesign.key" -out "$pki/codesign.pk8" &&
  softhsm2-util --import "$pki/codesign.pk8" --token vorblend-release --pin 2468 \
    --label codesign --id 01 &&
  openssl x509 -in "$pki/codesign.pem" -outform DER -out "$pki/codesign.der" &&
  pkcs11-tool --module /usr/lib/softhsm/libsofthsm2.so --token-label vorblend-release \
    --login --pin 2468 --write-object "$pki/codesign.der" --type cert --label codesign --id 01
} >"$tmp/out" 2>&1 || { not_ok "putting the key on a SoftHSM2 token"; finish; }
key='pkcs11:token=vorblend-release;object=codesign;type=private'

# --- Releases ---------------------------------------------------------------
release() { "$src/scripts/release" "$@"; }
p12=(--pkcs12 "$pki/codesign.p12" --password-file "$pki/password")
p11=(--pkcs11-module "$module" --key "$key" --cert "$pki/codesign.pem" --password-file "$pki/pin")

check "an unsigned release" release "$tmp/plain" "$build/release"
check "signed with the PKCS#12 file, the second time-stamp server answering" \
  release "${p12[@]}" --timestamp "$dead" --timestamp "$tsa" "$tmp/p12" "$build/release"
check "signed with the key on the token" \
  release "${p11[@]}" --timestamp "$tsa" "$tmp/p11" "$build/release"
check "signed with the key and the certificate on the token" \
  release --pkcs11-module "$module" --key "$key" --password-file "$pki/pin" "$tmp/token" "$build/release"
check "  osslsigncode verify accepts it" \
  osslsigncode verify -CAfile "$pki/ca.pem" -in "$tmp/token/uninstall.exe"

for dist in p12 p11; do
  check "$dist: SHA256SUMS.unsigned is the unsigned release's SHA256SUMS" \
    cmp "$tmp/$dist/SHA256SUMS.unsigned" "$tmp/plain/SHA256SUMS"
  check "$dist: SHA256SUMS lists the signed files" \
    bash -c "cd '$tmp/$dist' && sha256sum -c --strict SHA256SUMS"
  for file in uninstall.exe:"Vorblend Uninstall" logcheck.exe:"Vorblend Removal Log Check"; do
    name=${file%%:*} desc=${file#*:}
    check "$dist: osslsigncode verify accepts $name, named \"$desc\", with its time stamp" \
      bash -c "osslsigncode verify -CAfile '$pki/ca.pem' -TSA-CAfile '$pki/ca.pem' \
                 -in '$tmp/$dist/$name' >'$tmp/verify' 2>&1; status=\$?; cat '$tmp/verify';
               [ \$status = 0 ] && grep -q 'Text description: $desc\$' '$tmp/verify' &&
               grep -q 'Timestamp time:' '$tmp/verify' &&
               grep -q '^Signature verification: ok' '$tmp/verify'"
  done
done

# A failed signing leaves the release folder as it was.
sums_before=$(cd "$tmp/p12" && sha256sum ./*)
refuses "a wrong PKCS#12 password fails the release with the tool's reason" "Wrong password|mac verify" \
  release --pkcs12 "$pki/codesign.p12" --password-file "$pki/wrong-password" "$tmp/p12" "$build/release"
refuses "a wrong PIN fails the release with the tool's reason" "PIN incorrect|Login" \
  release --pkcs11-module "$module" --key "$key" --cert "$pki/codesign.pem" \
    --password-file "$pki/wrong-pin" "$tmp/p12" "$build/release"
refuses "no answer from the time-stamp server fails the release" "timestamping failed|Failed to get data" \
  release "${p12[@]}" --timestamp "$dead" "$tmp/p12" "$build/release"
check "after the failures the signed release folder is unchanged" \
  test "$sums_before" = "$(cd "$tmp/p12" && sha256sum ./*)"
refuses "no release folder is made by a failed signing" "timestamping failed" \
  release "${p12[@]}" --timestamp "$dead" "$tmp/never" "$build/release"
check "  and leaves no folder behind" test ! -e "$tmp/never"

# The last step swaps folders by renames. A failure just before it leaves the
# folder as it was; so does a run cut off between its renames, once the next
# run has put the old folder back. The user's own files in it are kept.
swap=$tmp/swap
cp -a "$tmp/p12" "$swap"
mkdir "$swap/notes"
printf 'mine\n' >"$swap/notes/readme.txt"
printf 'mine too\n' >"$swap/.mine"
snapshot() { (cd "$1" && find . -printf '%y %m %p\n' | sort && find . -type f -exec sha256sum {} + | sort -k2); }
snapshot "$swap" >"$tmp/swap.before"
leftovers() { find "$tmp" -maxdepth 1 -name '.swap.*'; }
cat >"$tmp/failing-hook" <<EOF
#!/bin/sh
# Records the staged folder and what it holds, then fails the release.
{ echo "\$1"; ls -A "\$1"; } >"$tmp/staged"
exit 1
EOF
chmod +x "$tmp/failing-hook"
failing=(env RELEASE_SWAP_HOOK="'$tmp/failing-hook' \"\$1\"")
refuses "a failure just before the swap fails the release" "swap hook failed" \
  "${failing[@]}" "$src/scripts/release" "$swap" "$build/release"
check "  after staging beside the folder the new files and the user's" \
  bash -c "head -1 '$tmp/staged' | grep -qx '$tmp/\.swap\.new\..*' &&
           grep -qx uninstall.exe '$tmp/staged' && grep -qx notes '$tmp/staged' &&
           grep -qx .mine '$tmp/staged' && ! grep -qx SHA256SUMS.unsigned '$tmp/staged'"
check "  leaves the folder byte for byte as it was" \
  diff "$tmp/swap.before" <(snapshot "$swap")
check "  and no staged folder beside it" test -z "$(leftovers)"
mv -T "$swap" "$tmp/.swap.old"
mkdir "$tmp/.swap.new.Xq3Zr9"
printf 'half\n' >"$tmp/.swap.new.Xq3Zr9/uninstall.exe"
refuses "after a swap cut off between its renames the next run (failing too)" "swap hook failed" \
  "${failing[@]}" "$src/scripts/release" "$swap" "$build/release"
check "  has put the old folder back byte for byte" \
  diff "$tmp/swap.before" <(snapshot "$swap")
check "  and removed what the cut-off run left beside it" test -z "$(leftovers)"
# Cut off after the swap, before the old folder was removed.
mkdir "$tmp/.swap.old"
printf 'old\n' >"$tmp/.swap.old/uninstall.exe"
check "a run into the folder succeeds" release "$swap" "$build/release"
check "  giving the unsigned release's files, without the signed one's SHA256SUMS.unsigned" \
  bash -c "cmp '$swap/uninstall.exe' '$tmp/plain/uninstall.exe' &&
           cmp '$swap/logcheck.exe' '$tmp/plain/logcheck.exe' &&
           cmp '$swap/SHA256SUMS' '$tmp/plain/SHA256SUMS' && test ! -e '$swap/SHA256SUMS.unsigned'"
check "  keeping the user's files" \
  bash -c "test \"\$(cat '$swap/notes/readme.txt' '$swap/.mine')\" = \"\$(printf 'mine\nmine too')\""
check "  and leaving nothing beside the folder" test -z "$(leftovers)"

# --- verify-release ---------------------------------------------------------
check "verify-release --ca --tsa-ca passes the files signed all three ways, time-stamped and not" \
  "$src/scripts/verify-release" --ca "$pki/ca.pem" --tsa-ca "$pki/ca.pem" \
    "$tmp/p12/uninstall.exe" "$tmp/p12/logcheck.exe" "$tmp/p11/uninstall.exe" "$tmp/p11/logcheck.exe" \
    "$tmp/token/uninstall.exe" "$tmp/token/logcheck.exe"
# The PKCS#12 file holds the root and the authority sends its whole chain.
check "  the release writes the leaf alone, the time stamp its authority's path without the root" \
  bash -c "'$src/scripts/check-signature' '$tmp/p12/uninstall.exe' --carried-certs '$tmp/carried' \
             --tsa-certs '$tmp/tsa-certs' && test \$(grep -c 'BEGIN CERT' '$tmp/carried') = 1 &&
           test \$(grep -c 'BEGIN CERT' '$tmp/tsa-certs') = 2"

# One byte changed inside the first section, which the signature's digest covers.
mkdir -p "$tmp/changed" "$tmp/other"
cp "$tmp/p12/uninstall.exe" "$tmp/changed/uninstall.exe"
offset=$(x86_64-w64-mingw32-objdump -h "$tmp/changed/uninstall.exe" |
           awk '$2 == ".text" { print $6; exit }')
offset=$((0x$offset + 100))
byte=$(od -An -tu1 -j "$offset" -N1 "$tmp/changed/uninstall.exe" | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 1)))" |
  dd of="$tmp/changed/uninstall.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
# The same bytes as the release, signed under another authority.
osslsigncode sign -certs "$pki/othersign.pem" -key "$pki/othersign.key" -h sha256 \
  -n "Vorblend Removal Log Check" -in "$tmp/plain/logcheck.exe" -out "$tmp/other/logcheck.exe" \
  >"$tmp/out" 2>&1 || not_ok "signing under another authority"
# Signed by osslsigncode alone, not rewritten by the release: with the PKCS#12
# file it carries the root, and the time stamp the authority's whole chain.
mkdir -p "$tmp/direct"
osslsigncode sign -pkcs12 "$pki/codesign.p12" -readpass "$pki/password" -h sha256 -ts "$tsa" \
  -n "Vorblend Uninstall" -in "$tmp/plain/uninstall.exe" -out "$tmp/direct/uninstall.exe" \
  >"$tmp/out" 2>&1 || not_ok "signing with osslsigncode alone"
"$src/scripts/verify-release" --ca "$pki/ca.pem" --tsa-ca "$pki/ca.pem" \
  "$tmp/changed/uninstall.exe" "$tmp/other/logcheck.exe" "$tmp/p11/logcheck.exe" \
  "$tmp/direct/uninstall.exe" >"$tmp/bad" 2>&1
status=$?
cp "$tmp/bad" "$tmp/out"
check "verify-release fails when one of its files fails" test $status -ne 0
check "  naming the signature check for the changed byte" \
  grep -q "^FAIL signature: $tmp/changed/uninstall.exe: .*digest mismatch" "$tmp/bad"
check "  naming the signature check for the other authority" \
  grep -q "^FAIL signature: $tmp/other/logcheck.exe: .*does not lead to" "$tmp/bad"
check "  while its bytes are still the release's" \
  bash -c "! grep -q '^FAIL sources: $tmp/other/' '$tmp/bad'"
check "  and the good file beside them passes" bash -c "! grep -q '^FAIL.*$tmp/p11/' '$tmp/bad'"
check "  naming the certificates of the file signed by osslsigncode alone, the root among them" \
  grep -q "^FAIL signature: $tmp/direct/uninstall.exe: the signature's certificates differ from the table rebuilt" "$tmp/bad"
check "  while one it signed with the leaf alone is in the one form the release writes" \
  "$src/scripts/check-signature" "$tmp/other/logcheck.exe"

# Bytes hidden in the certificate table, which the digest does not cover.
# osslsigncode accepts some of these files, and those with the bytes inside the
# entry are still the release's once their signature is removed.
cat >"$tmp/hide.py" <<'EOF'
import struct, sys

source, target, where = sys.argv[1:]
data = bytearray(open(source, "rb").read())
directory = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 112 + 4 * 8
offset, size = struct.unpack_from("<II", data, directory)
length = struct.unpack_from("<I", data, offset)[0]
count = data[offset + 9] & 0x7F    # the signature's DER length, in its long form
der_end = offset + 10 + count + int.from_bytes(data[offset + 10:offset + 10 + count], "big")
payload = b"sixteen  bytes!!"
if where == "entry":       # inside the entry, its length and the table's grown
    data[offset + length:offset + length] = payload
    struct.pack_into("<I", data, offset, length + 16)
    struct.pack_into("<I", data, directory + 4, size + 16)
elif where == "table":     # after the entry, inside the table
    data += payload
    struct.pack_into("<I", data, directory + 4, size + 16)
elif where == "file":      # after the table
    data += payload
elif where == "padding":   # in the zero padding after the signature
    if der_end == offset + size:
        sys.exit("no padding")
    data[der_end] = 0x5A
open(target, "wb").write(data)
EOF
hidden=()
for where in entry table file; do
  mkdir -p "$tmp/hidden-$where"
  python3 "$tmp/hide.py" "$tmp/p12/uninstall.exe" "$tmp/hidden-$where/uninstall.exe" $where
  hidden+=("$tmp/hidden-$where/uninstall.exe")
done
mkdir -p "$tmp/hidden-padding"
for file in "$tmp"/p1[12]/*.exe "$tmp/token/"*.exe; do
  python3 "$tmp/hide.py" "$file" "$tmp/hidden-padding/$(basename "$file")" padding 2>/dev/null && {
    hidden+=("$tmp/hidden-padding/$(basename "$file")"); break; }
done
# A second signature nested inside the first, under another authority.
mkdir -p "$tmp/nested"
osslsigncode sign -nest -certs "$pki/othersign.pem" -key "$pki/othersign.key" -h sha256 \
  -in "$tmp/p12/logcheck.exe" -out "$tmp/nested/logcheck.exe" >"$tmp/out" 2>&1 ||
  not_ok "nesting a second signature"
"$src/scripts/verify-release" --ca "$pki/ca.pem" --tsa-ca "$pki/ca.pem" \
  "${hidden[@]}" "$tmp/nested/logcheck.exe" "$tmp/p11/uninstall.exe" >"$tmp/bad" 2>&1
status=$?
cp "$tmp/bad" "$tmp/out"
check "verify-release fails files with bytes hidden in their certificate table" test $status -ne 0
check "  16 bytes inside the signature's entry" \
  grep -q "^FAIL signature: $tmp/hidden-entry/uninstall.exe: the certificate table holds 16 bytes after the signature" "$tmp/bad"
check "  16 bytes after the entry, inside the table" \
  grep -q "^FAIL signature: $tmp/hidden-table/uninstall.exe: the certificate table holds 16 bytes after the signature" "$tmp/bad"
check "  16 bytes after the table" \
  grep -q "^FAIL signature: $tmp/hidden-file/uninstall.exe: the certificate table does not end the file" "$tmp/bad"
check "  a padding byte that is not zero" grep -q "^FAIL signature: $tmp/hidden-padding/.*: padding bytes are not zero" "$tmp/bad"
check "  a nested signature" grep -q "^FAIL signature: $tmp/nested/logcheck.exe: .*nested signature" "$tmp/bad"
check "  while those with the bytes inside the entry are still the release's" \
  bash -c "! grep -qE '^FAIL sources: $tmp/(hidden-entry|hidden-padding|nested)/' '$tmp/bad'"
check "  and the good file beside them passes" bash -c "! grep -q '^FAIL.*$tmp/p11/' '$tmp/bad'"

# Good files altered in one way each, every DER length, the certificate entry
# and the PE checksum made right again, so that only the rule named is broken;
# the certificate added is the look-alike root unless the row names another.
# p12/ and p11/ carry the leaf and a time stamp with its authority's path
# (without the root, as the release writes them), token/ the leaf alone.
rebuilt="differ from the table rebuilt in the one form signing writes"
altered=(
  "junk-stamp|p12/uninstall.exe|the time stamp attribute holds no signed time-stamp token"
  "extra-cert|p12/logcheck.exe|the signature carries a certificate that is not on its signer's certificate path|otherca"
  "swap-cert|p12/uninstall.exe|a certificate the signature carries is not on the signer's verified path"
  "duplicate-cert|token/uninstall.exe|the signature carries a certificate twice"
  "token-extra-cert|p11/uninstall.exe|the time stamp carries a certificate that is not on its signer's certificate path|otherca"
  "extra-digest|token/logcheck.exe|the signature's digest algorithms are not SHA-256 alone"
  "rsa-without-null|token/uninstall.exe|the signer's signature algorithm is not RSA with its NULL parameters"
  "long-length|token/uninstall.exe|the signature is not DER (a length not in its shortest form)"
  "checksum-bit|p11/logcheck.exe|the PE checksum in the optional header (0x"
  "extra-cert|token/logcheck.exe|the signature's certificates $rebuilt|ca"
  "token-extra-cert|p12/uninstall.exe|the time stamp's certificates $rebuilt|ca"
  "token-cert-order|p12/logcheck.exe|the time stamp's certificates $rebuilt"
  "token-extra-digest|p11/uninstall.exe|the time stamp's digest algorithms $rebuilt"
  "token-digest-payload|p11/logcheck.exe|the time stamp's signer's digest algorithm is not SHA-256"
)
files=()
for row in "${altered[@]}"; do
  IFS='|' read -r alteration file rule cert <<<"$row"
  mkdir -p "$tmp/altered/$alteration$cert"
  files+=("$tmp/altered/$alteration$cert/$(basename "$file")")
  "$src/tests/release/alter-signature" "$tmp/$file" "${files[-1]}" "$alteration" \
    "$pki/${cert:-lookalike}.pem" >"$tmp/out" 2>&1 || not_ok "altering $file: $alteration"
done
"$src/scripts/verify-release" --ca "$pki/ca.pem" --tsa-ca "$pki/ca.pem" \
  "${files[@]}" "$tmp/token/logcheck.exe" >"$tmp/bad" 2>&1
status=$?
cp "$tmp/bad" "$tmp/out"
check "verify-release fails files whose signature breaks one rule of its form" test $status -ne 0
for row in "${altered[@]}"; do
  IFS='|' read -r alteration file rule cert <<<"$row"
  check "  $alteration${cert:+ ($cert)}: $rule" \
    grep -qF "FAIL signature: $tmp/altered/$alteration$cert/$(basename "$file"): $rule" "$tmp/bad"
done
check "  and the good file beside them passes" bash -c "! grep -q '^FAIL.*$tmp/token/' '$tmp/bad'"

# The release's bytes signed again under a self-made certificate of the same
# name: without --ca only the roots of the system's store are trusted, never a
# certificate the signature brings along.
mkdir -p "$tmp/brenhow"
{ make_cert brenhow "/CN=Brenhow" codesign_ext "" &&
  osslsigncode sign -certs "$pki/brenhow.pem" -key "$pki/brenhow.key" -h sha256 \
    -n "Vorblend Uninstall" -in "$tmp/plain/uninstall.exe" -out "$tmp/brenhow/uninstall.exe"
} >"$tmp/out" 2>&1 || not_ok "signing under a self-made certificate"
"$src/scripts/verify-release" "$tmp/brenhow/uninstall.exe" "$tmp/p12/uninstall.exe" >"$tmp/bad" 2>&1
status=$?
cp "$tmp/bad" "$tmp/out"
chain="the signer's chain does not lead to a root of this system's certificate store"
check "without --ca verify-release fails a self-made certificate" test $status -ne 0
check "  naming the signature check and the chain" \
  grep -q "^FAIL signature: $tmp/brenhow/uninstall.exe: $chain" "$tmp/bad"
check "  as for the genuine signer, whose test root the store lacks" \
  grep -q "^FAIL signature: $tmp/p12/uninstall.exe: $chain" "$tmp/bad"
check "  while their bytes are still the release's" bash -c "! grep -q '^FAIL sources:' '$tmp/bad'"
SSL_CERT_FILE=$pki/ca.pem "$src/scripts/verify-release" \
  "$tmp/brenhow/uninstall.exe" "$tmp/p12/uninstall.exe" "$tmp/p12/logcheck.exe" >"$tmp/bad" 2>&1
cp "$tmp/bad" "$tmp/out"
check "with the test root in the store, the self-made certificate still fails" \
  grep -q "^FAIL signature: $tmp/brenhow/uninstall.exe: $chain" "$tmp/bad"
check "  and the files signed under that root pass, time stamps and all" \
  bash -c "! grep -q '^FAIL.*$tmp/p12/' '$tmp/bad' && test \$(grep -c 'signature:   ok, chain leads to a root of' '$tmp/bad') = 2"

# --- The signed uninstaller under Wine ---------------------------------------
# Its clean-up copy is checked byte for byte against its own file before it
# starts, signature and all: a full silent run shows both still work.
session=$build/wine
"$src/scripts/wine-session" start "$session" >"$tmp/out" 2>&1 || not_ok "starting Wine"
drive_c=$session/wineprefix/drive_c
product=$drive_c/VorblendSigned
rm -rf "$product"
mkdir -p "$product/data"
cp "$tmp/p11/uninstall.exe" "$product/uninstall.exe"
printf 'program\n' >"$product/vorblend.exe"
printf 'preset\n' >"$product/data/preset.vbp"
printf '%s\r\n' 'file:C:\VorblendSigned\vorblend.exe' 'dirw:C:\VorblendSigned\data' \
  'file:C:\VorblendSigned\uninstall.log' 'file:C:\VorblendSigned\uninstall.exe' \
  'dir:C:\VorblendSigned\' >"$product/uninstall.log"
"$src/scripts/wine-session" run "$session" 'C:\VorblendSigned\uninstall.exe' \
  'C:\VorblendSigned\uninstall.log' /S >"$tmp/out" 2>&1
copies() { find "$drive_c/users" -iname uninstallqx.exe 2>/dev/null; }
for _ in $(seq 150); do
  [ -e "$product" ] || [ -n "$(copies)" ] || break
  sleep 0.2
done
check "the signed uninstaller removes the sample installation, itself and its folder included" \
  test ! -e "$product"
check "  and its clean-up copy is gone too" test -z "$(copies)"

finish
