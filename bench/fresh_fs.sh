# Sourced by the benchmarks: a freshly made file system for each group of
# measurements, so that no measurement creates files where files were just
# deleted (ext4 then skips recently freed inodes, and every new file pays).
#
# Needs: $work (the benchmark's own folder). Gives: fresh_fs KIND MIB, which
# leaves the new file system's root in $fs_root; drop_fs unmounts it.
# KIND is ext4 (mkfs.ext4 with its default journal on an image file, through
# a loop device) or tmpfs. Where mounting is not possible (no root, no loop
# devices) it falls back to a new plain folder under $work and says so once.

fs_root=
fs_loop=
fs_count=0
fs_warned=

drop_fs() {
  if [[ -n $fs_root ]] && mountpoint -q "$fs_root"; then
    umount "$fs_root"
  fi
  if [[ -n $fs_loop ]]; then
    losetup -d "$fs_loop" 2>/dev/null || true
    fs_loop=
  fi
}

# The images stay to the end, one per size, and are made anew inside only:
# blocks allocated once on the disk beneath. Writing into the holes of a
# new image on this machine's ext4 took from 0.5 s to 8 s for the same
# gigabyte, since that file system allocates slowly after deletions.
drop_images() { rm -f "$work"/fs-*.img; }

fresh_fs() {
  local kind=$1 mib=$2
  drop_fs
  fs_count=$((fs_count + 1))
  fs_root=$work/fs$fs_count
  mkdir "$fs_root"
  if [[ $kind == ext4 ]]; then
    local image=$work/fs-$mib.img
    [[ -f $image ]] || fallocate -l "${mib}M" "$image" 2>/dev/null || truncate -s "${mib}M" "$image"
    # Direct I/O on the loop device: the image's pages are not cached twice,
    # and a sync really ends the writing.
    fs_loop=$(losetup --find --show --direct-io=on "$image" 2>/dev/null ||
              losetup --find --show "$image" 2>/dev/null) || fs_loop=
    # noinit_itable: no background thread zeroing inode tables during the
    # runs; nodiscard: the image keeps its blocks.
    if [[ -n $fs_loop ]] && mkfs.ext4 -q -F -E nodiscard "$fs_loop" >/dev/null 2>&1 &&
       mount -o noinit_itable "$fs_loop" "$fs_root" 2>/dev/null; then
      return
    fi
  elif mount -t tmpfs -o "size=${mib}m" tmpfs "$fs_root" 2>/dev/null; then
    return
  fi
  if [[ -z $fs_warned ]]; then
    echo "bench: cannot mount a fresh $kind file system here (root and loop devices" \
         "are needed); measuring in plain folders under $work instead" >&2
    fs_warned=1
  fi
}

# What the last fresh_fs gave, for the report.
fs_describe() {
  if mountpoint -q "$fs_root"; then stat -f -c %T "$fs_root"; else echo "plain folder"; fi
}

# rotated N ITEMS...: the items, starting at position N modulo their count.
rotated() {
  local n=$1
  shift
  local items=("$@") k
  for ((k = 0; k < ${#items[@]}; k++)); do echo "${items[(n + k) % ${#items[@]}]}"; done
}

# What a step left dirty is written back before the next one is timed.
settle() { sync -f "$fs_root"; }
