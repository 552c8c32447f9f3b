#!/bin/sh
# Builds the control-PC package, build/package/VESK-<version>-win32.zip:
# VESK.exe for the control PC (the TRELL32.dll build, stripped), the same
# service on the simulated instrument and the command-line client (both
# built as the control PC's program is, for Windows XP SP3 and later), registry
# files for both enable-flag choices (also for 64-bit Windows, whose 32-bit
# programs read the WOW6432Node view) and INSTALL.txt. Then checks what
# went into it. Needs the packages of .ci/packages.
set -eu
cd "$(dirname "$0")/.."
jobs="$(nproc 2>/dev/null || echo 2)"
python=/usr/bin/python3
version="$(sed -n 's/^project(vesk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="VESK-$version-win32"
staging="build/package/$name"
zip="build/package/$name.zip"

for preset in win32-trell32 win32-xp; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== package $zip"
rm -rf "$staging" "$zip"
mkdir -p "$staging/registry/64-bit-windows" "$staging/simulator" "$staging/client"
i686-w64-mingw32-strip -o "$staging/VESK.exe" build/win32-trell32/app/VESK.exe
i686-w64-mingw32-strip -o "$staging/simulator/VESK.exe" build/win32-xp/app/VESK.exe
i686-w64-mingw32-strip -o "$staging/client/vesk-client.exe" build/win32-xp/client/vesk-client.exe

# Text files with CR LF, as Windows' editors and the registry editor expect.
crlf() { sed 's/$/\r/' "$1" >"$2"; }
sed "s/@VERSION@/$version/" packaging/INSTALL.txt >"$staging/INSTALL.tmp"
crlf "$staging/INSTALL.tmp" "$staging/INSTALL.txt"
rm "$staging/INSTALL.tmp"
for pair in vesk-both.reg:enable-both.reg vesk-only.reg:enable-vesk-only.reg; do
  source="config/${pair%%:*}"
  target="${pair#*:}"
  crlf "$source" "$staging/registry/$target"
  sed 's/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\/[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\/' "$source" >"$staging/tmp.reg"
  crlf "$staging/tmp.reg" "$staging/registry/64-bit-windows/$target"
  rm "$staging/tmp.reg"
done

# Stored in a fixed order with fixed times.
"$python" - "$staging" "$zip" <<'EOF'
import os, sys, zipfile
staging, target = sys.argv[1], sys.argv[2]
root = os.path.dirname(staging)
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for folder, subfolders, files in sorted(os.walk(staging)):
        subfolders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(os.path.relpath(path, root).replace(os.sep, "/"), (2026, 1, 1, 0, 0, 0))
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read())
EOF

"$python" tests/windows/check_package.py "$zip" --version "$version" --sem-operations scope/sem_operations.def \
  --xp-allow-list tests/windows/xp_sp3_imports.txt
echo "== $zip: $(wc -c <"$zip") bytes"
