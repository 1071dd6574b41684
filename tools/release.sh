#!/bin/sh
# The release: builds QZ410UI.DLL for 32-bit x86 and for x64 from this
# checkout and writes what a driver maintainer ships into OUTDIR:
#   x86/QZ410UI.DLL, x64/QZ410UI.DLL            without debug information
#   symbols/x86/QZ410UI.DLL.debug, symbols/x64/...  their symbols, which the
#                                               DLLs name (.gnu_debuglink)
#   QZ410.INI                                   names the plug-in to the
#                                               driver's core modules
#   README                                      for integrators
#   SHA256SUMS                                  over every other file
# The build is reproducible: one commit gives the same bytes in any folder at
# any time. --check then loads each shipped DLL into the stand-in host under
# Wine and fails unless it answers as the DLL it was made from; --no-setup
# leaves the machine as it is (the test command, which has set it up already,
# makes and checks a release that way).
#
# --sign PFX Authenticode-signs both DLLs with the certificate and key in the
# PKCS#12 file PFX: SHA-1 first, which Windows 2000 and XP before SP3 verify,
# then a nested SHA-256 signature for later Windows. The password comes from
# QZ410_SIGN_PASSWORD or from the first line of --sign-password-file FILE,
# never from the command line, where every user of the machine could read
# it; --timestamp URL has a time-stamping server countersign both (it must
# answer Authenticode's own requests and RFC 3161 ones). Signing
# touches only what the Authenticode digest leaves out, which the release
# proves (tools/compare-signed.py) before a signed DLL goes into OUTDIR.
# Without --sign, --check signs copies of the release with a throwaway
# certificate, so that a signing tool that stopped working is seen before a
# maintainer needs it.
#
#   tools/release.sh [--no-setup] [--check] [--sign PFX [--sign-password-file FILE]
#                    [--timestamp URL]] OUTDIR
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: $0 [--no-setup] [--check] [--sign PFX [--sign-password-file FILE] [--timestamp URL]] OUTDIR" >&2
  exit 2
}
setup=yes
check=no
sign=
password_file=
timestamp=
while :; do
  case "${1:-}" in
    --no-setup) setup=no; shift ;;
    --check) check=yes; shift ;;
    --sign | --sign-password-file | --timestamp)
      [ $# -ge 2 ] && [ -n "$2" ] || usage
      case "$1" in
        --sign) sign=$2 ;;
        --sign-password-file) password_file=$2 ;;
        --timestamp) timestamp=$2 ;;
      esac
      shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || usage
[ -n "$sign" ] || [ -z "$password_file$timestamp" ] ||
  { echo "release: --sign-password-file and --timestamp go with --sign" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
# OUTDIR holds the release and nothing else, since the sums cover all of it;
# an earlier release there is replaced, once nothing can stop this one
# before it is built.
release_files="x86 x64 symbols QZ410.INI README SHA256SUMS"
for f in "$out"/* "$out"/.[!.]*; do
  [ -e "$f" ] || continue
  case " $release_files " in
    *" ${f##*/} "*) ;;
    *) echo "release: $out holds ${f##*/}, which is not part of a release; give an empty folder" >&2; exit 2 ;;
  esac
done
remove_release() { for f in $release_files; do rm -rf "${out:?}/$f"; done; }
# The digest algorithms of the signatures that osslsigncode's verify report
# $1 names, in their order: "SHA1 SHA256 " for a SHA-1 signature with a
# SHA-256 one nested in it.
digests() { sed -n 's/^Message digest algorithm  *: *\([A-Z0-9]*\).*/\1/p' "$1" | tr '\n' ' '; }

# Private room for the password, the signing's intermediate files and the
# checks; gone at the end however the release ends.
work=$(mktemp -d)
wine_used=no
finish() {
  rm -rf "$work"
  [ "$wine_used" = no ] || "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" --stop
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

[ "$setup" = no ] || "$root/tools/setup.sh"

# Signing is settled before anything is built or replaced: a certificate file
# that cannot be read, a wrong password or a certificate that may not sign
# code stops the release with one line and OUTDIR as it was.
if [ -n "$sign" ]; then
  refuse() { echo "release: $*" >&2; exit 2; }
  [ -f "$sign" ] && [ -r "$sign" ] || refuse "cannot read the certificate file $sign"
  sign=$(cd "$(dirname "$sign")" && pwd)/$(basename "$sign")
  # The password reaches openssl and osslsigncode only through this file.
  # Its first line is the password, as openssl reads a password file; a CR
  # before the line's end (a file written on Windows) is not part of it.
  password=
  if [ -n "$password_file" ]; then
    [ -f "$password_file" ] && [ -r "$password_file" ] || refuse "cannot read the password file $password_file"
    IFS= read -r password < "$password_file" || true
    password=${password%"$(printf '\r')"}
  elif [ "${QZ410_SIGN_PASSWORD+set}" = set ]; then
    password=$QZ410_SIGN_PASSWORD
  else
    refuse "--sign needs the password of $sign, in QZ410_SIGN_PASSWORD or in a file named by --sign-password-file"
  fi
  (umask 077 && printf '%s' "$password" > "$work/password")
  # An empty password has no line for openssl to read.
  passin="file:$work/password"
  [ -n "$password" ] || passin=pass:
  unset password

  # Older exports encrypt with algorithms that OpenSSL 3 keeps in its legacy
  # provider; the MAC, which the password must match, needs none of those.
  legacy=
  pkcs12() { openssl pkcs12 -in "$sign" -passin "$passin" $legacy "$@" 2> "$work/openssl.log"; }
  if ! pkcs12 -nokeys -clcerts -out "$work/signer.pem"; then
    grep -qi 'invalid password\|mac verify' "$work/openssl.log" && refuse "the password does not open $sign"
    legacy=-legacy
    pkcs12 -nokeys -clcerts -out "$work/signer.pem" ||
      refuse "cannot open $sign: not a PKCS#12 file, or the password is wrong"
  fi
  grep -q 'BEGIN CERTIFICATE' "$work/signer.pem" || refuse "$sign holds no certificate for its key"
  pkcs12 -nokeys -out "$work/trust.pem"
  subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
    refuse "the certificate in $sign ($subject) is not for signing code: its extended key usage names no Code Signing"
  # An expired certificate still signs; Windows then trusts the signatures
  # no more than the certificate. They are checked as of its last valid
  # second, which shows that they are whole.
  verify_time=
  if ! openssl x509 -in "$work/signer.pem" -noout -checkend 0 > /dev/null; then
    expired=$(openssl x509 -in "$work/signer.pem" -noout -enddate | sed 's/^notAfter=//')
    echo "release: warning: the certificate in $sign ($subject) expired on $expired; signing anyway, but Windows will not trust these signatures" >&2
    verify_time=$(($(date -d "$expired" +%s) - 1))
  fi
  # The signatures are checked against the certificates in the PFX and the
  # machine's certificate authorities, so that a certificate from a CA
  # whose chain the PFX does not carry fully verifies too.
  [ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >> "$work/trust.pem"

  # What Windows shows as the signed content's description and web site: the
  # file description of the version resource and the maker's site on the
  # Version page.
  description=$(sed -n 's/^ *VALUE "FileDescription", "\(.*\)" *$/\1/p' "$root/resources/qz410ui.rc")
  url=$(sed -n 's/^ *LTEXT "\([^"]*\)", IDC_VERSION_URL_LINK,.*/\1/p' "$root/resources/qz410ui.rc")
  [ -n "$description" ] && [ -n "$url" ] ||
    { echo "release: resources/qz410ui.rc names no file description or no web site" >&2; exit 1; }
fi

cd "$root"
remove_release

targets=qz410ui
[ "$check" = no ] || targets="qz410ui qz410host"
for tree in win32 win64; do
  echo "== building $tree: $targets"
  cmake --preset "$tree" > /dev/null
  cmake --build --preset "$tree" --target $targets
done

# The shipped file keeps no symbol table either: both go to the symbol file,
# which gdb and winedbg find by the name and checksum in .gnu_debuglink when
# it lies beside the DLL (or in a .debug folder beside it). objcopy writes a
# new PE time stamp, the time of the copy unless told otherwise: it stays
# none (0), as the linker left it.
export SOURCE_DATE_EPOCH=0
for pair in win32:x86:i686 win64:x64:x86_64; do
  tree=${pair%%:*}
  rest=${pair#*:}
  arch=${rest%%:*}
  objcopy=${rest#*:}-w64-mingw32-objcopy
  mkdir -p "$out/$arch" "$out/symbols/$arch"
  built="build/$tree/bin/QZ410UI.DLL"
  "$objcopy" --only-keep-debug "$built" "$out/symbols/$arch/QZ410UI.DLL.debug"
  (cd "$out/symbols/$arch" && "$objcopy" --strip-all --add-gnu-debuglink=QZ410UI.DLL.debug \
    "$root/$built" "$out/$arch/QZ410UI.DLL")
  chmod 644 "$out/$arch/QZ410UI.DLL" "$out/symbols/$arch/QZ410UI.DLL.debug"
done

# Both DLLs are signed, checked and proved equal to the unsigned ones outside
# the digest's exclusions in the private folder; only then do they replace
# the unsigned DLLs in OUTDIR. Whatever stops the signing takes the whole
# release out of OUTDIR, so that no half-signed or unsigned DLL is left to
# be shipped by mistake.
if [ -n "$sign" ]; then
  fail_signing() {
    remove_release
    echo "release: $*; $out holds no release" >&2
    exit 1
  }
  # One signature of the kind $3, with the options that follow; osslsigncode
  # writes nothing at the output's name unless it succeeds. A time-stamping
  # server that keeps the connection open without answering gets 2 minutes.
  osslsign() {
    input=$1 output=$2 hash=$3
    shift 3
    # osslsigncode reads no password from an empty file; an empty password
    # on its command line tells nobody anything.
    if [ -s "$work/password" ]; then
      set -- -readpass "$work/password" "$@"
    else
      set -- -pass "" "$@"
    fi
    timeout 120 osslsigncode sign -pkcs12 "$sign" "$@" -h "$hash" \
      -n "$description" -i "$url" -in "$input" -out "$output" >> "$work/sign.log" 2>&1
  }
  # Windows 2000 and XP read only Authenticode's own time stamps, which go on
  # the SHA-1 signature; the SHA-256 one takes an RFC 3161 time stamp.
  sign_dll() {
    rm -f "$work/sha1.dll" "$2"
    osslsign "$1" "$work/sha1.dll" sha1 ${timestamp:+-t "$timestamp"} &&
      osslsign "$work/sha1.dll" "$2" sha256 -nest ${timestamp:+-ts "$timestamp"}
  }
  mkdir "$work/unsigned" "$work/signed"
  for arch in x86 x64; do
    echo "== signing $arch/QZ410UI.DLL"
    mkdir "$work/unsigned/$arch" "$work/signed/$arch"
    cp "$out/$arch/QZ410UI.DLL" "$work/unsigned/$arch/QZ410UI.DLL"
    : > "$work/sign.log"
    sign_dll "$work/unsigned/$arch/QZ410UI.DLL" "$work/signed/$arch/QZ410UI.DLL" && continue
    # The PFX and its password have been read; when the same signature
    # without a time stamp works, the time-stamping server is what failed.
    said=$(sed -n 's/^.*failure: //p' "$work/sign.log" | head -n 1)
    [ -n "$said" ] || said=$(grep -v '^Failed$' "$work/sign.log" | grep . | tail -n 1)
    if [ -n "$timestamp" ]; then
      stamped=$timestamp
      timestamp=
      if sign_dll "$work/unsigned/$arch/QZ410UI.DLL" "$work/probe.dll"; then
        fail_signing "the time-stamping server $stamped gave no time stamp (${said:-no answer within 2 minutes})"
      fi
    fi
    fail_signing "osslsigncode could not sign $arch/QZ410UI.DLL (${said:-no message})"
  done
  # Both signatures must verify, SHA-1 first and SHA-256 nested in it.
  verify_dll() {
    set -- -CAfile "$work/trust.pem" -TSA-CAfile "$work/trust.pem" -in "$1"
    [ -z "$verify_time" ] || set -- -time "$verify_time" "$@"
    # Newer osslsigncode fetches the CRLs that certificates point to; a build
    # machine may have no network.
    ! osslsigncode -h 2>&1 | grep -q -e '-ignore-cdp' || set -- -ignore-cdp "$@"
    osslsigncode verify "$@" > "$work/verify.log" 2>&1 &&
      [ "$(digests "$work/verify.log")" = "SHA1 SHA256 " ]
  }
  for arch in x86 x64; do
    if ! verify_dll "$work/signed/$arch/QZ410UI.DLL"; then
      cat "$work/verify.log" >&2
      fail_signing "$arch/QZ410UI.DLL does not carry a SHA-1 signature with a nested SHA-256 one that verify (osslsigncode's report above)"
    fi
    (cd "$work" && python3 "$root/tools/compare-signed.py" "unsigned/$arch/QZ410UI.DLL" "signed/$arch/QZ410UI.DLL") \
      > "$work/compared-$arch" || fail_signing "signing changed $arch/QZ410UI.DLL where the Authenticode digest looks"
  done
  for arch in x86 x64; do
    cp "$work/signed/$arch/QZ410UI.DLL" "$out/$arch/.QZ410UI.DLL.signed"
    chmod 644 "$out/$arch/.QZ410UI.DLL.signed"
    mv -f "$out/$arch/.QZ410UI.DLL.signed" "$out/$arch/QZ410UI.DLL"
  done
fi

# The plug-in's configuration file, which the driver's core modules read to
# find their plug-ins: Unicode text, UTF-16 with a byte-order mark, as they
# expect; Windows line ends.
{
  printf '\377\376'
  printf '%s\r\n' \
    "# The plug-ins of the Ardix QZ410 printer driver's core modules." \
    "# The driver's own rendering plug-in is added as OEMDriverFile1=<its file>." \
    "[OEMFiles]" \
    "OEMConfigFile1=QZ410UI.DLL" | iconv -f UTF-8 -t UTF-16LE
} > "$out/QZ410.INI"
chmod 644 "$out/QZ410.INI"

# What the README tells, read from the files and sources themselves.
# The file version from the DLL's fixed version information (VS_FIXEDFILEINFO:
# its signature, then two words of structure version, then the version).
file_version() {
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
  set -- $(od -An -tu4 -j$((at + 8)) -N8 "$1")
  echo "$(($1 >> 16)).$(($1 & 65535)).$(($2 >> 16)).$(($2 & 65535))"
}
version=$(file_version "$out/x86/QZ410UI.DLL")
[ "$(file_version "$out/x64/QZ410UI.DLL")" = "$version" ] ||
  { echo "release: the x86 and x64 DLLs carry different versions" >&2; exit 1; }
exports=$(x86_64-w64-mingw32-objdump -p "$out/x64/QZ410UI.DLL" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
# {0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, ...}} as the registry writes it.
clsid=$(sed -n 's/.*CLSID_QZ410UI = {\(.*\)}};.*/\1/p' plugin/HostContract.h | tr -d '{} ' | tr ',' ' ' | {
  read -r d1 d2 d3 b0 b1 b2 b3 b4 b5 b6 b7
  printf '{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}' \
    "$d1" "$d2" "$d3" "$b0" "$b1" "$b2" "$b3" "$b4" "$b5" "$b6" "$b7"
})
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit, with changes not yet committed"
fi
size() { wc -c < "$out/$1" | tr -d ' '; }
indent() { fold -s -w "$1" | sed "s/ *\$//; s/^/$2/"; }

if [ -n "$sign" ]; then
  signed=", signed"
  if [ -n "$timestamp" ]; then
    stamped="Both signatures are time-stamped by $timestamp, so they stay valid after the certificate expires."
  else
    stamped="They carry no time stamp: Windows trusts them as long as the certificate is valid."
  fi
  signatures=$(cat <<EOF

Signatures
  Both DLLs are Authenticode-signed by
$(echo "$subject" | indent 72 "    ")
  first with SHA-1 digests, which Windows 2000 and XP before SP3 verify,
  then with a nested SHA-256 signature for later Windows; their description
  is "$description" and their URL $url.
$(echo "$stamped" | indent 74 "  ")
  On Windows the DLL's Properties show them (Digital Signatures); anywhere,
  "osslsigncode verify -CAfile <the certificate's CA certificates> -in
  x86/QZ410UI.DLL" checks them.

  Signing changed nothing that the Authenticode digest covers: each signed
  DLL is, byte for byte, the DLL that an unsigned release of the same commit
  writes, except for the PE checksum, the certificate table's entry among
  the data directories, up to 7 zero bytes that align the certificate table
  to 8 bytes, and the certificate table itself, appended at the end:
$(for arch in x86 x64; do sed 's|^\(signed/[^:]*\):|\1 is|' "$work/compared-$arch" | indent 70 "    "; done)
  (offsets count from 0). Anyone can repeat that: in a checkout of the
  commit, "tools/release.sh /tmp/unsigned" writes the unsigned release, then
    python3 tools/compare-signed.py /tmp/unsigned/x86/QZ410UI.DLL <this folder>/x86/QZ410UI.DLL
    python3 tools/compare-signed.py /tmp/unsigned/x64/QZ410UI.DLL <this folder>/x64/QZ410UI.DLL
  print lines like the ones above, or say where the files differ; "cmp -l",
  which counts from 1, lists the bytes that differ. The symbol files are
  not signed and are the unsigned release's own, byte for byte.
EOF
)
else
  signed=
  signatures=$(cat <<EOF

Signatures
  The DLLs are not signed. A driver's files are signed before they ship:
  "tools/release.sh --sign PFX OUTDIR" in a checkout of the commit writes
  this release with both DLLs Authenticode-signed (see the project's README).
EOF
)
fi

cat > "$out/README" <<EOF
QZ410UI.DLL $version, the user-interface plug-in of the QZ410 printer driver
for Windows 2000 and XP, built from commit $commit.

Files
  x86/QZ410UI.DLL                  the plug-in for 32-bit Windows ($(size x86/QZ410UI.DLL) bytes$signed)
  x64/QZ410UI.DLL                  the plug-in for x64 Windows ($(size x64/QZ410UI.DLL) bytes$signed)
  QZ410.INI                        names the plug-in to the driver's core modules
  symbols/x86/QZ410UI.DLL.debug    symbols and DWARF debug information of the x86 DLL
  symbols/x64/QZ410UI.DLL.debug    the same for the x64 DLL
  SHA256SUMS                       SHA-256 of every file above and of this README

The plug-in is a COM in-process server that the driver's core UI module loads
from the driver directory. It exports
  $exports
by plain name, and its class id is
  $clsid

The DLLs carry no debug information and no link time stamp: building the
same commit again (tools/release.sh OUTDIR, in any folder, at any time) gives
the same bytes, so a shipped file can be checked against its commit.
$signatures

Checking the files
  cd <this folder> && sha256sum -c SHA256SUMS

Integration
  The driver's core modules find their plug-ins through QZ410.INI, which is
  installed with the driver's other files. It is Unicode text (UTF-16,
  little-endian, with a byte-order mark); its [OEMFiles] section names this
  plug-in as OEMConfigFile1=QZ410UI.DLL, and the driver's own rendering
  plug-in is added to it as OEMDriverFile1=<its file>. The numbers count
  from 1; no spaces around "=", no paths; lines starting with "#" are
  comments.

  The driver's INF lists QZ410UI.DLL and QZ410.INI among the driver's
  files, so that both become dependent files of the driver and
  point-and-print clients get them too. One package can serve both
  architectures from this release's folders, with the [Manufacturer]
  section decorated "NTamd64" for x64 Windows:

    [QZ410]                        ; the model's section, x86 and x64
    CopyFiles = QZ410_FILES
    ...

    [QZ410_FILES]
    QZ410UI.DLL
    QZ410.INI
    ...                            ; the driver's own files

    [DestinationDirs]
    DefaultDestDir = 66000         ; the printer driver directory

    [SourceDisksFiles]             ; x86 (Windows 2000 and XP)
    QZ410UI.DLL = 1,x86
    QZ410.INI = 1

    [SourceDisksFiles.amd64]       ; x64
    QZ410UI.DLL = 1,x64
    QZ410.INI = 1

  A package for one architecture alone takes that architecture's lines.

  The Version page of the printer's properties shows when the driver's
  files were last written, looking for them where a version-3 driver
  installs them, under the system folder (e.g. C:\\WINDOWS\\system32):
    spool\\drivers\\w32x86\\3\\QZ410.GPD, QZ410UI.DLL, QZ410UD.DLL   the x86 DLL
    spool\\drivers\\x64\\3\\QZ410.GPD, QZ410UI.DLL, QZ410UD.DLL      the x64 DLL
    QZ410LM.DLL, the language monitor, in the system folder itself
  A file it cannot open there shows as "0/00/00 00:00".

The symbols
  Keep them with the release; they are not shipped to users. Each DLL names
  its symbol file and checksum in its .gnu_debuglink section: for crash
  analysis put QZ410UI.DLL.debug beside the DLL (or in a .debug folder beside
  it) and gdb or winedbg finds it. The source paths in it start with /qz410ui;
  in gdb, "set substitute-path /qz410ui <checkout of the commit>".
EOF

(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  while read -r f; do sha256sum "$f"; done > SHA256SUMS)

# Nothing leaves here unchecked: the sums verify, no file has a time stamp,
# no debug section is left in a shipped DLL, and each names its symbol file.
(cd "$out" && sha256sum --quiet -c SHA256SUMS)
pe_time() {
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j$((pe + 8)) -N4 "$1" | tr -d ' '
}
for arch in x86 x64; do
  for f in "$arch/QZ410UI.DLL" "symbols/$arch/QZ410UI.DLL.debug"; do
    [ "$(pe_time "$out/$f")" = 0 ] || { echo "release: $f has a PE time stamp" >&2; exit 1; }
  done
  dump=$(x86_64-w64-mingw32-objdump -h "$out/$arch/QZ410UI.DLL")
  case "$dump" in *" .debug_"*) echo "release: $arch/QZ410UI.DLL still has debug sections" >&2; exit 1 ;; esac
  case "$dump" in *" .gnu_debuglink "*) ;; *) echo "release: $arch/QZ410UI.DLL names no symbol file" >&2; exit 1 ;; esac
done
echo "== release $version in $out${signed:+ (signed by $subject)}:"
(cd "$out" && LC_ALL=C ls -l x86/QZ410UI.DLL x64/QZ410UI.DLL symbols/*/QZ410UI.DLL.debug QZ410.INI)
[ "$check" = yes ] || exit 0

# What the stand-in host prints of a DLL, after the line naming its path.
answers() {
  (cd "build/$1/bin" && "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe "$2") | sed 1d
}
wine_used=yes
failed=
for pair in win64:x64 win32:x86; do
  tree=${pair%%:*}
  arch=${pair#*:}
  if [ "$arch" = x86 ]; then
    no_x86=$("$root/tools/wine-run.sh" --check-32bit) || true
    if [ -n "$no_x86" ]; then
      echo "release: x86/QZ410UI.DLL not checked: $no_x86" >&2
      failed=yes
      continue
    fi
  fi
  echo "== $arch/QZ410UI.DLL in the stand-in host"
  built=$(answers "$tree" QZ410UI.DLL) || true
  shipped=$(answers "$tree" "Z:$(echo "$out/$arch/QZ410UI.DLL" | tr / '\\')") || true
  if [ -n "$built" ] && [ "$built" = "$shipped" ]; then
    echo "$shipped"
  else
    echo "release: $arch/QZ410UI.DLL answers otherwise than build/$tree/bin/QZ410UI.DLL:" >&2
    answered=$(mktemp)
    printf '%s\n' "$shipped" > "$answered"
    printf '%s\n' "$built" | diff -u - "$answered" >&2 || true
    rm -f "$answered"
    failed=yes
  fi
done
[ -z "$failed" ]
[ -z "$sign" ] || exit 0

# An unsigned release is signed as a maintainer would sign it, with a
# throwaway self-signed certificate, into a folder of its own: the signing
# must verify, change nothing outside the digest's exclusions and leave DLLs
# that answer as the built ones; a wrong password must stop it with one line
# before anything is written.
echo "== signing this release with a throwaway certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QZ410 release check" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
  -keyout "$work/check-key.pem" -out "$work/check-cert.pem" 2> "$work/openssl.log" ||
  { cat "$work/openssl.log" >&2; exit 1; }
(umask 077 && printf '%s\n' "release check" > "$work/check-password")
openssl pkcs12 -export -in "$work/check-cert.pem" -inkey "$work/check-key.pem" \
  -passout "file:$work/check-password" -out "$work/check.pfx"
mkdir "$work/refused"
if QZ410_SIGN_PASSWORD=wrong "$root/tools/release.sh" --no-setup --sign "$work/check.pfx" "$work/refused" > "$work/refused.log" 2>&1 ||
  [ "$(wc -l < "$work/refused.log")" != 1 ] || ! grep -q '^release: the password does not open' "$work/refused.log" ||
  [ -n "$(ls -A "$work/refused")" ]; then
  cat "$work/refused.log" >&2
  echo "release: a wrong password did not stop the signing with one line and nothing written" >&2
  exit 1
fi
echo "== a wrong password stops the signing:"
cat "$work/refused.log"
"$root/tools/release.sh" --no-setup --check --sign "$work/check.pfx" --sign-password-file "$work/check-password" "$work/signed-release"
for arch in x86 x64; do
  signed_dll="$work/signed-release/$arch/QZ410UI.DLL"
  # The signatures once more, named by the certificate itself as CA.
  osslsigncode verify -CAfile "$work/check-cert.pem" -in "$signed_dll" > "$work/verify.log" 2>&1 &&
    [ "$(digests "$work/verify.log")" = "SHA1 SHA256 " ] ||
    { cat "$work/verify.log" >&2; echo "release: the throwaway signatures of $arch/QZ410UI.DLL do not verify" >&2; exit 1; }
  python3 "$root/tools/compare-signed.py" "$out/$arch/QZ410UI.DLL" "$signed_dll"
  cmp "$out/symbols/$arch/QZ410UI.DLL.debug" "$work/signed-release/symbols/$arch/QZ410UI.DLL.debug"
done
