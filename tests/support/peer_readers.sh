# Sourced by the packer's Zip64 scripts (tests/scripts/packer_*.sh): the
# peer tools reading a packed file. Needs tests/support/harness.sh sourced
# and $pack.

# read_by_all NAME FILE: every reader checks every entry of FILE.
read_by_all() {
  local name=$1 file=$2
  check "unzip tests $name" unzip -tq "$file"
  check "7z tests $name" bash -c "7z t '$file' | grep -q 'Everything is Ok'"
  check "bsdtar reads $name" bash -c "bsdtar -xOf '$file' | wc -c"
  check "Python reads $name" python3 -c "
import zipfile; assert zipfile.ZipFile('$file').testzip() is None"
}

# read_many NAME FILE COUNT: every reader takes FILE whole, with COUNT
# entries, and so does quillon-pack --test.
read_many() {
  local name=$1 file=$2 count=$3
  check "unzip tests $name" unzip -tq "$file"
  check "7z tests $name" bash -c "7z t '$file' | grep -q 'Everything is Ok'"
  check "bsdtar lists $name" bash -c "[ \$(bsdtar -tf '$file' | wc -l) = $count ]"
  check "Python reads $name" python3 -c "
import zipfile; z = zipfile.ZipFile('$file'); assert len(z.infolist()) == $count, len(z.infolist()); assert z.testzip() is None"
  check "--test passes $name" bash -c "'$pack' --test '$file' | tail -1 | grep -q 'no errors in $count entries'"
}
