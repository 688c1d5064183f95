#!/usr/bin/env bash
# Disc burning against xorriso, in one run: the burning window writing a staged folder of 700 MB
# to libburn's stdio: pseudo drive (an ISO image file), against `xorriso -as mkisofs` writing the
# same folder to an ISO image file on the same file system.
# - plain: 700 files of 1 MB (not DICOM), the portable-disc files off;
# - portable: 700 DICOM files of about 1 MB (1024 x 1024 grey), with the DICOMDIR, README.TXT
#   and INDEX.HTM the window adds by default (xorriso writes the folder only).
# For each, the longest gap of the GUI event loop while the burn ran.
# Usage: bench/burn.sh [build folder]   (scratch in $BENCH_DIR, default a new temp folder)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_burn"
[[ -x $tool ]] || { echo "build first: scripts/build.sh"; exit 1; }
work=${BENCH_DIR:-$(mktemp -d)}
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }
count=${BURN_FILES:-700}

run() { # name folder [portable]
    local name=$1 folder=$2 mode=${3:-}
    sync
    cat "$folder"/* >/dev/null # both read from the page cache
    rm -f "$work/ours.iso" "$work/xorriso.iso"
    out=$("$tool" "$folder" "$work/ours.iso" $mode)
    echo "$out"
    ours=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
    t0=$(now)
    xorriso -as mkisofs -quiet -R -J -V BENCH1 -o "$work/xorriso.iso" "$folder"
    t1=$(now)
    peer=$(calc "$t1 - $t0")
    echo "xorriso -as mkisofs: ${peer} s; images: ours $(stat -c %s "$work/ours.iso") bytes, xorriso $(stat -c %s "$work/xorriso.iso") bytes"
    echo "ratio $name burn / xorriso = $(calc "$ours / $peer" 2)"
    rm -f "$work/ours.iso" "$work/xorriso.iso"
}

echo "== plain: $count files of 1 MB"
mkdir -p "$work/plain"
for i in $(seq -w 1 "$count"); do head -c 1048576 /dev/urandom >"$work/plain/CLIP$i.avi"; done
run plain "$work/plain"
rm -rf "$work/plain"

echo "== portable: $count DICOM files of about 1 MB"
mkdir -p "$work/dicom"
/usr/bin/python3 - "$work/dicom" "$count" <<'PY'
import os, sys
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
folder, count = sys.argv[1], int(sys.argv[2])
study, series = generate_uid(), generate_uid()
for i in range(1, count + 1):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID, ds.PatientBirthDate, ds.PatientSex = "BENCH^PATIENT", "B-1", "19800214", "F"
    ds.StudyInstanceUID, ds.SeriesInstanceUID = study, series
    ds.StudyDate, ds.StudyTime, ds.AccessionNumber, ds.StudyID = "20261205", "120000", "BENCH1", "1"
    ds.ReferringPhysicianName, ds.Modality, ds.SeriesNumber, ds.InstanceNumber = "", "OT", 1, i
    ds.ConversionType, ds.PatientOrientation = "WSD", ""
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.Rows = ds.Columns = 1024
    ds.BitsAllocated = ds.BitsStored = 8
    ds.HighBit, ds.PixelRepresentation = 7, 0
    ds.PixelData = os.urandom(1024 * 1024)
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(os.path.join(folder, "IMG-%05d.dcm" % i), write_like_original=False)
PY
run portable "$work/dicom" portable
# The same work by the peer tools: dcmmkdir (DICOMDIR over the files under DICOM file IDs,
# hard links as the window's symbolic links) followed by xorriso.
mkdir -p "$work/peer/IMAGES"
n=0; for f in "$work/dicom"/*.dcm; do n=$((n + 1)); ln "$f" "$work/peer/IMAGES/$(printf IMG%05d "$n")"; ln "$f" "$work/peer/$(basename "$f")"; done
cat "$work/dicom"/* >/dev/null
rm -f "$work/ours.iso"
out=$("$tool" "$work/dicom" "$work/ours.iso" portable)
ours=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
t0=$(now)
(cd "$work/peer" && dcmmkdir -q +D "$work/peer/DICOMDIR" -Pgp +I +id . +r IMAGES)
xorriso -as mkisofs -quiet -R -J -V BENCH1 -o "$work/xorriso.iso" "$work/peer"
t1=$(now)
peer=$(calc "$t1 - $t0")
echo "portable again: ${ours} s; dcmmkdir + xorriso -as mkisofs: ${peer} s"
echo "ratio portable burn / (dcmmkdir + xorriso) = $(calc "$ours / $peer" 2)"
