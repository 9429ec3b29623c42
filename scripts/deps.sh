#!/usr/bin/env bash
# What building OmbriTools needs, shared by run.sh and test.sh (they source this file):
#   ombri_install_deps          installs the missing Debian 12 packages
#   ombri_build DIR OPTION...   configures DIR once, then builds it incrementally
#   ombri_build_main            the build/ tree that both scripts use
# Run directly, it only installs the packages.
#
# A complete machine does no apt work at all: each package is first looked up with dpkg-query.

OMBRI_PACKAGES=(
    build-essential
    cmake
    ninja-build
    pkg-config
    git
    # Keeps compiled objects between runs and between clones: a second run compiles only what
    # changed even after the build trees are removed.
    ccache
    libpng-dev
    libdeflate-dev
    libtiff-dev
    libjpeg62-turbo-dev
    # Colour profiles embedded in pictures are applied for the screen with lcms2.
    liblcms2-dev
    # WebP files are read and written through libwebp (its demuxer included).
    libwebp-dev
    # The WebP tests make their files with cwebp, img2webp and gif2webp and compare with dwebp.
    webp
    # AVIF files are read through libavif; the tests make theirs with avifenc and compare with
    # avifdec.
    libavif-dev
    libavif-bin
    # HEIF files are read through libheif; the tests make theirs with heif-enc and compare with
    # heif-convert.
    libheif-dev
    libheif-examples
    # JPEG XL files are read through libjxl; the tests make theirs with cjxl and compare with djxl.
    libjxl-dev
    libjxl-tools
    imagemagick
    # The TIFF tests widen carriers to 16 bits with vips as well, which multiplies by 256 where
    # ImageMagick multiplies by 257.
    libvips-tools
    # Every PNG the writer saves is checked by pngcheck in the tests.
    pngcheck
    # The tool tests (scripts/tool_table.sh) put carriers through the programs people use on
    # pictures; each operation keeps the pixels, and the notes must come through:
    # optipng, pngcrush, advpng and zopflipng recompress PNG files;
    optipng
    pngcrush
    advancecomp
    zopfli
    # netpbm's pngtopnm, pnmtopng and pamtopng take a PNG apart and put it together again;
    netpbm
    # Pillow opens and saves every carrier format, and changes RGBA to RGB and back;
    python3-pil
    # GraphicsMagick converts between them as ImageMagick does, with code of its own;
    graphicsmagick
    # tiffcp rewrites a TIFF compressed, planar or tiled;
    libtiff-tools
    # exiftool adds metadata to PNG and TIFF files, and tags test pictures with an
    # orientation, as cameras and photo tools do.
    libimage-exiftool-perl
    # The colour tests compare the reader's conversion with lcms2's own tificc, on an Adobe RGB
    # profile from colord's collection.
    liblcms2-utils
    colord-data
    # The save tests give files ACL entries with setfacl and check that a save keeps them.
    acl
    zlib1g-dev
    libgtest-dev
    libbenchmark-dev
    clang
    # libFuzzer and clang's sanitizer runtimes; clang only recommends them.
    libclang-rt-dev
    # The desktop programs: Qt 6 widgets and printing; the fonts the text tests measure with.
    qt6-base-dev
    # The writer's SVG icons are drawn by Qt's SVG plugins.
    libqt6svg6
    fonts-dejavu-core
    # Chinese text typed and pasted in the writer's text tests is drawn from this font.
    fonts-wqy-microhei
    desktop-file-utils
    # The reader's full-screen tests run on a real X server under a real window manager.
    xvfb
    openbox
    # The Debian package is checked as a distribution would: lintian on the package,
    # appstreamcli on its metainfo; the completion of ombri is tried with the shell's helpers.
    lintian
    appstream
    bash-completion
)

# The options of build/: tests and benchmarks, so that test.sh reuses what run.sh built.
OMBRI_MAIN_OPTIONS=(
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DOMBRI_TESTS=ON
    -DOMBRI_BENCH=ON
)

ombri_missing_packages() {
    local -A installed=()
    local name status
    while read -r name status; do
        if [[ $status == "install ok installed" ]]; then
            installed[$name]=1
        fi
    done < <(dpkg-query -W -f='${Package} ${Status}\n' "${OMBRI_PACKAGES[@]}" 2>/dev/null || true)
    for name in "${OMBRI_PACKAGES[@]}"; do
        if [[ -z ${installed[$name]:-} ]]; then
            printf '%s\n' "$name"
        fi
    done
}

ombri_install_deps() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "deps: not a Debian system; make sure these are installed: ${OMBRI_PACKAGES[*]}" >&2
        return 0
    fi
    local missing=()
    mapfile -t missing < <(ombri_missing_packages)
    if ((${#missing[@]} == 0)); then
        return 0
    fi

    local root=()
    if ((EUID != 0)); then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "deps: missing packages (${missing[*]}), and neither root nor sudo" >&2
            return 1
        fi
        root=(sudo)
    fi
    echo "deps: installing ${missing[*]}"
    "${root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
    "${root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}" || return 1

    mapfile -t missing < <(ombri_missing_packages)
    if ((${#missing[@]} != 0)); then
        echo "deps: still missing after apt-get: ${missing[*]}" >&2
        return 1
    fi
}

# Configures DIR with Ninja only when it has not been configured, or when one of the wanted
# -DNAME=VALUE options differs from its cache; otherwise the build step alone runs, which is
# what keeps repeated runs fast.
ombri_configure() {
    local dir=$1
    shift
    if [[ ! -f $dir/CMakeCache.txt ]]; then
        cmake -S . -B "$dir" -G Ninja "$@"
        return
    fi
    local generated=no
    if [[ -f $dir/build.ninja || -f $dir/Makefile ]]; then
        generated=yes
    fi
    local option key value stale=no
    for option in "$@"; do
        [[ $option == -D*=* ]] || continue
        key=${option#-D}
        value=${key#*=}
        key=${key%%=*}
        key=${key%%:*}
        if ! grep -Eq "^${key}(:[A-Z]+)?=${value}\$" "$dir/CMakeCache.txt"; then
            stale=yes
        fi
    done
    if [[ $generated == yes && $stale == no ]]; then
        return 0
    fi
    # An existing cache keeps the generator it was made with.
    cmake -S . -B "$dir" "$@"
}

# Compilers run through ccache when it is there. The precompiled headers are the same for every
# source of a target, so ccache may reuse results across them (pch_defines, time_macros), and
# paths inside the checkout are hashed relative to it, so another clone hits the same entries.
# Depend mode takes the headers a source read from the compiler's own dependency file: without it
# every miss, and an empty cache misses on every source, ran the preprocessor once more first
# (about a tenth of a widget source's time).
ombri_compiler_launcher() {
    if command -v ccache >/dev/null 2>&1; then
        printf '%s\n' -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
    fi
}

# ombri_build DIR [--target NAME]... OPTION...: without --target, everything the options enable.
ombri_build() {
    local dir=$1 launcher=() targets=()
    shift
    while [[ ${1:-} == --target ]]; do
        targets+=(--target "$2")
        shift 2
    done
    mapfile -t launcher < <(ombri_compiler_launcher)
    ombri_configure "$dir" "$@" "${launcher[@]}" || return 1
    CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_DEPEND=${CCACHE_DEPEND:-1} \
        CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime} \
        cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

ombri_build_main() {
    ombri_build build "${OMBRI_MAIN_OPTIONS[@]}"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -euo pipefail
    ombri_install_deps
fi
