#!/usr/bin/env bash
# Makes the Debian package from the programs already built in BUILD-DIR and checks it as a
# distribution would: lintian finds no error and no warning in it, and appstreamcli accepts
# the metainfo, menu entries and icons it installs. Fails when either tool is missing.
#   check_package.sh CPACK BUILD-DIR [CONFIG]
#
# Nothing is built again: cpack installs what BUILD-DIR holds. The package is always made
# under /usr, as lintian wants, even from a build configured for /usr/local; only the samples
# folder named in such a build's Help text then differs from where the package puts it.
set -uo pipefail
cpack=$1
build=$2
config=${3:-}

missing=()
for tool in lintian appstreamcli dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "package: missing ${missing[*]} (Debian packages lintian, appstream, dpkg-dev;" \
        "scripts/deps.sh installs them)"
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ombri-package.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

options=(-G DEB --config "$build/CPackConfig.cmake" -B "$work/out"
    -D CPACK_PACKAGING_INSTALL_PREFIX=/usr)
[[ -n $config ]] && options+=(-C "$config")
if ! "$cpack" "${options[@]}" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "package: cpack failed"
    exit 1
fi
packages=("$work"/out/*.deb)
if ((${#packages[@]} != 1)) || [[ ! -f ${packages[0]} ]]; then
    cat "$work/cpack.log"
    echo "package: cpack made ${#packages[@]} packages, not one"
    exit 1
fi
package=${packages[0]}
echo "package: ${package##*/}"

failed=0
# Every tag is printed; errors and warnings fail the check, both by the exit status and by
# the lines themselves, in case a lintian release counts them differently.
lintian_output=$(lintian --fail-on error,warning --tag-display-limit 0 "$package" 2>&1)
lintian_status=$?
echo "lintian (exit $lintian_status):"
[[ -n $lintian_output ]] && printf '%s\n' "$lintian_output"
if ((lintian_status != 0)) || grep -Eq '^[EW]: ' <<<"$lintian_output"; then
    echo "package: lintian finds errors or warnings"
    failed=1
fi

# appstreamcli reads the installed tree: the package unpacked.
dpkg-deb -x "$package" "$work/root" || exit 1
appstream_output=$(appstreamcli validate-tree --no-net "$work/root" 2>&1)
appstream_status=$?
echo "appstreamcli validate-tree (exit $appstream_status):"
printf '%s\n' "$appstream_output"
if ((appstream_status != 0)) || grep -Eq '^[EW]: ' <<<"$appstream_output"; then
    echo "package: appstreamcli finds errors or warnings"
    failed=1
fi
# A tree without metainfo would pass without a single check.
for id in org.ombritools.OmbriWriter org.ombritools.OmbriReader; do
    if [[ ! -f $work/root/usr/share/metainfo/$id.metainfo.xml ]]; then
        echo "package: no usr/share/metainfo/$id.metainfo.xml"
        failed=1
    fi
done
exit "$failed"
