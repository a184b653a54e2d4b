#!/usr/bin/env bash
# The tool's main job on the simulated controller: installs what is missing,
# builds, and checks the sample images against the sample controller the way
# the updater does before it writes anything.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host --target nvmcheck
out=$PWD/build/demo
mkdir -p "$out"
version=$(cat samples/controller.version)
for image in update-newer update-other-board; do
  echo "== samples/$image.bin against samples/controller.nvm (version $version)"
  ./build/host/bin/nvmcheck "samples/$image.bin" --nvm samples/controller.nvm --nvm-version "$version" \
    | tee "$out/$image.txt" || true
  echo
done
echo "Output saved under $out"
