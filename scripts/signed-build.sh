#!/usr/bin/env bash
# A signed build, made as a maker makes one but with a throwaway certificate
# authority: signs the product's images and the setup program, checks every
# signature against that authority, that the signed program's payload still
# lists and extracts (signed images inside), and that it installs under Wine.
#   scripts/signed-build.sh [BUILD]        (default build/win32-signed)
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath -m "${1:-build/win32-signed}")
keys="$build/keys"
images=(QLX_Tessel_3.dll sqlite3.dll uninstall.exe)
start=$SECONDS

# The authority and the code-signing certificate, with the key in a PKCS#12
# whose password is only ever in a file. A new authority means a new build
# folder: images signed by the old one would not verify.
make_keys() {
  rm -rf "$keys"
  if [ -f "$build/CMakeCache.txt" ]; then rm -rf "$build"; fi
  mkdir -p "$keys"
  (
    cd "$keys"
    openssl req -x509 -newkey rsa:2048 -noenc -keyout ca.key -out ca.pem -days 30 \
      -subj "/CN=QLX throwaway test CA" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
    openssl req -newkey rsa:2048 -noenc -keyout signer.key -out signer.csr \
      -subj "/O=Quillon Software Company/CN=Quillon Software Company"
    printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
      extendedKeyUsage=codeSigning subjectKeyIdentifier=hash authorityKeyIdentifier=keyid \
      >signer.ext
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
      -extfile signer.ext -out signer.pem
    openssl rand -hex 24 >password
    chmod 600 password ca.key signer.key
    openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem \
      -passout file:password -out signer.pfx
  ) 2>"$keys/openssl.log" || { cat "$keys/openssl.log" >&2; return 1; }
}
if [ ! -f "$keys/signer.pfx" ] || ! openssl x509 -checkend 86400 -noout -in "$keys/ca.pem" >/dev/null; then
  echo "signed-build: a throwaway certificate authority in $keys"
  make_keys
fi

echo "signed-build: configure and build $build"
cmake --preset win32 -B "$build" -DQLX_SIGN_PFX="$keys/signer.pfx" \
  -DQLX_SIGN_PASSWORD_FILE="$keys/password" >/dev/null
# The setup program and what it needs, nothing else.
cmake --build "$build" -j2 --target QLXT3SE_Setup

failed=0
fail() {
  echo "signed-build: FAILED: $*" >&2
  failed=1
}
verify() {
  if osslsigncode verify -CAfile "$keys/ca.pem" -in "$1" >"$build/verify.log" 2>&1 &&
    grep -q "Message digest algorithm  : SHA256" "$build/verify.log"; then
    echo "signed-build: verified $1"
  else
    cat "$build/verify.log" >&2
    fail "signature of $1"
  fi
}

setup="$build/src/setup/QLXT3SE_Setup.exe"
for image in "${images[@]}"; do verify "$build/product/$image"; done
verify "$setup"

# The payload of the signed program: listed, and extracted byte for byte as
# the signed images that went in.
qlxform="$build/host-tools/tools/qlxform"
extracted="$build/extracted"
rm -rf "$extracted"
"$qlxform" list "$setup" >"$build/payload.txt" || fail "qlxform list"
for name in "${images[@]}" Msvcrt.dll; do
  grep -qF "$name" "$build/payload.txt" || fail "$name is not listed in the payload"
done
if "$qlxform" extract "$setup" -d "$extracted" >/dev/null; then
  for name in "${images[@]}" Msvcrt.dll; do
    cmp -s "$extracted/$name" "$build/product/$name" || fail "extracted $name differs from the product's"
  done
  for image in "${images[@]}"; do verify "$extracted/$image"; done
else
  fail "qlxform extract"
fi

# Installs, reinstalls and uninstalls under Wine, the installed files compared
# with the signed product's: the win32 build's scenario driver, pointed at the
# signed program, in a Wine prefix of this build folder's own.
echo "signed-build: installing the signed program under Wine"
[ -f build/win32/build.ninja ] || cmake --preset win32 >/dev/null
cmake --build build/win32 -j2 --target qlx_e2e_setup >/dev/null
trap 'scripts/wine-env.sh stop "$build" >/dev/null 2>&1 || true' EXIT
install_scenario() {
  if QLX_E2E_SETUP_EXE="$setup" QLX_E2E_PRODUCT_DIR="$build/product" GTEST_FILTER='Lifecycle.*' \
    scripts/wine-env.sh run "$build" build/win32/tests/e2e/qlx_e2e_setup.exe --gtest_color=no \
    >"$build/install.log" 2>&1; then
    grep -F '[  PASSED  ]' "$build/install.log"
  else
    # A file that differs is printed whole: its lines cut short.
    cut -c1-300 "$build/install.log" | tail -30 >&2
    return 1
  fi
}
# Once more after a failure, as the win32 tests are: Wine under qemu now and
# then loses a process; a fault of the signed program fails both runs.
install_scenario || install_scenario || fail "the signed program's install scenario"

echo "signed-build: $((SECONDS - start)) s"
exit $failed
