#!/bin/bash
# Validates deploy/kubernetes/*/*.yaml against the Kubernetes schemas with
# kubernetes-models from the npm registry, installed once into a cache folder.
#   deploy/kubernetes/validate.sh            (77: skipped, saying why)
# VANTREL_NPM_CACHE: where the packages go (default ~/.cache/vantrel-k8s-validate).
set -u
here=$(cd "$(dirname "$0")" && pwd)
cache=${VANTREL_NPM_CACHE:-$HOME/.cache/vantrel-k8s-validate}
command -v node >/dev/null && command -v npm >/dev/null || { echo "SKIP: node and npm missing"; exit 77; }
if [ ! -d "$cache/node_modules/kubernetes-models" ] || [ ! -d "$cache/node_modules/yaml" ]; then
    mkdir -p "$cache"
    npm install --prefix "$cache" --no-audit --no-fund --loglevel=error \
        kubernetes-models@5.1.0 yaml@2.9.1 >/dev/null ||
        { echo "SKIP: npm could not install kubernetes-models"; exit 77; }
fi
NODE_PATH=$cache/node_modules exec node "$here/validate.mjs" "$here"/*/*.yaml
