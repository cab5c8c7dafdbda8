# Sourced by the build scripts: compiles go through ccache when it is there, so a build in a fresh
# checkout on a machine that has built the tree before takes what it has compiled already.
# Paths under the checkout are hashed relative to it, whatever folder the checkout is in.
cache_args=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
    cache_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
