// A file system in memory that loses, at a power cut, whatever was never
// flushed: the tests run the programs on it and look at what survives.
//
// Every file has live bytes, which programs read and write, and durable
// bytes, what the medium holds; every folder has live and durable entries.
// fsync or fdatasync of a file makes its bytes (and so its size) durable,
// fsync of a folder its entries; every other change (create, write,
// truncate, rename, link, unlink, chmod, chown) touches the live state only.
// The kernel passes no syncfs to a FUSE server, so making everything
// durable at once is a request to the control file.
//
// Options:
//   --seed=DIR       start with DIR's folders and files, all durable (the
//                    programs make no folders, so there is no mkdir)
//   --dump=DIR       write the durable tree into DIR on unmount
//   --cut-after=K    after the K-th changing operation the medium is gone:
//                    every later operation fails with EIO
//   --fail-sync      every fsync, fdatasync and fsyncdir fails with EIO
// The control file /.power_cut (never listed, never cut) reads as
// "operations N\n"; writing "sync" to it makes everything durable, "dump"
// writes the dump at once.
#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

struct Node {
  bool folder = false;
  mode_t mode = 0644;
  uid_t uid = 0;
  gid_t gid = 0;
  ino_t ino = 0;
  nlink_t links = 0;  // live names of a file
  std::string data, durable_data;
  std::map<std::string, std::shared_ptr<Node>> entries, durable_entries;
};
using NodePtr = std::shared_ptr<Node>;

constexpr char kControl[] = "/.power_cut";

struct State {
  NodePtr root;
  ino_t next_ino = 2;
  unsigned long operations = 0;  // changing operations done
  unsigned long cut_after = 0;   // 0: never
  bool cut = false;
  bool fail_sync = false;
  std::string seed, dump;
  // Open files by handle: an unlinked file lives on while it is open.
  std::map<std::uint64_t, NodePtr> handles;
  std::uint64_t next_handle = 1;  // 0 is the control file
};

State& S() { return *static_cast<State*>(fuse_get_context()->private_data); }

NodePtr NewNode(bool folder, mode_t mode) {
  auto node = std::make_shared<Node>();
  node->folder = folder;
  node->mode = mode & 07777;
  node->ino = S().next_ino++;
  return node;
}

// Whether the medium still answers; a changing operation is counted, and
// the one after the K-th finds the medium gone.
int Gate(bool changes) {
  State& s = S();
  if (s.cut) return -EIO;
  if (!changes) return 0;
  if (s.cut_after != 0 && s.operations == s.cut_after) {
    s.cut = true;
    return -EIO;
  }
  ++s.operations;
  return 0;
}

NodePtr Resolve(const char* path) {
  NodePtr node = S().root;
  std::string rest = path;
  std::size_t at = 0;
  while (node && at < rest.size()) {
    std::size_t end = rest.find('/', at);
    if (end == std::string::npos) end = rest.size();
    if (end > at) {
      if (!node->folder) return nullptr;
      auto found = node->entries.find(rest.substr(at, end - at));
      node = found == node->entries.end() ? nullptr : found->second;
    }
    at = end + 1;
  }
  return node;
}

// The folder that holds `path`, and the last name in `*name`.
NodePtr Parent(const char* path, std::string* name) {
  std::string whole = path;
  const std::size_t slash = whole.rfind('/');
  *name = whole.substr(slash + 1);
  NodePtr parent = Resolve(whole.substr(0, slash).c_str());
  return parent && parent->folder && !name->empty() ? parent : nullptr;
}

// The node of an open file (fstat, ftruncate: the path may be gone), else
// the one at `path`.
NodePtr Find(const char* path, const fuse_file_info* fi) {
  if (fi != nullptr && fi->fh != 0) {
    auto found = S().handles.find(fi->fh);
    if (found != S().handles.end()) return found->second;
  }
  return path != nullptr ? Resolve(path) : nullptr;
}

bool IsControl(const char* path) { return path != nullptr && std::strcmp(path, kControl) == 0; }

void MakeDurable(const NodePtr& node) {
  node->durable_data = node->data;
  node->durable_entries = node->entries;
  for (auto& [name, child] : node->entries) MakeDurable(child);
}

// Hard links stay links in the dump: `dumped` holds each file's first path.
void Dump(const NodePtr& folder, const std::string& into, std::map<Node*, std::string>* dumped) {
  mkdir(into.c_str(), 0755);
  for (auto& [name, child] : folder->durable_entries) {
    const std::string path = into + "/" + name;
    if (child->folder) {
      Dump(child, path, dumped);
      continue;
    }
    auto first = dumped->find(child.get());
    if (first != dumped->end()) {
      link(first->second.c_str(), path.c_str());
      continue;
    }
    (*dumped)[child.get()] = path;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) continue;
    if (write(fd, child->durable_data.data(), child->durable_data.size()) < 0) perror(path.c_str());
    fchmod(fd, child->mode);
    close(fd);
  }
}

void DumpAll() {
  if (S().dump.empty()) return;
  std::map<Node*, std::string> dumped;
  Dump(S().root, S().dump, &dumped);
}

// The seed's files and folders (made durable afterwards).
void Seed(const NodePtr& folder, const std::string& from, std::map<ino_t, NodePtr>* seen) {
  DIR* dir = opendir(from.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = from + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    NodePtr child;
    if (S_ISDIR(info.st_mode)) {
      child = NewNode(true, info.st_mode);
      Seed(child, path, seen);
    } else if (S_ISREG(info.st_mode)) {
      NodePtr& same = (*seen)[info.st_ino];
      if (!same) {
        same = NewNode(false, info.st_mode);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        char block[65536];
        for (ssize_t got; fd >= 0 && (got = read(fd, block, sizeof block)) > 0;) {
          same->data.append(block, static_cast<std::size_t>(got));
        }
        if (fd >= 0) close(fd);
      }
      child = same;
      ++child->links;
    } else {
      continue;  // links and special files are left out
    }
    child->uid = info.st_uid;
    child->gid = info.st_gid;
    folder->entries[name] = child;
  }
  closedir(dir);
}

// ---------------------------------------------------------------------------
// The operations.

void* Init(fuse_conn_info* conn, fuse_config* cfg) {
  // Nothing cached in the kernel: every call the programs make arrives
  // here, in their order.
  conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
  cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 0;
  cfg->direct_io = 1;
  cfg->use_ino = 1;      // st_ino is ours: identities and hard links hold
  cfg->hard_remove = 1;  // an unlinked open file is not renamed away
  cfg->nullpath_ok = 1;
  // The tree is made here, where the operations' context exists already.
  S().root = NewNode(true, 0755);
  std::map<ino_t, NodePtr> seen;
  if (!S().seed.empty()) Seed(S().root, S().seed, &seen);
  MakeDurable(S().root);
  return fuse_get_context()->private_data;
}

void Destroy(void*) { DumpAll(); }

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  std::memset(st, 0, sizeof *st);
  if (IsControl(path)) {
    st->st_mode = S_IFREG | 0644;
    st->st_nlink = 1;
    st->st_ino = 1;
    return 0;
  }
  if (int gone = Gate(false)) return gone;
  NodePtr node = Find(path, fi);
  if (!node) return -ENOENT;
  st->st_mode = (node->folder ? S_IFDIR : S_IFREG) | node->mode;
  st->st_nlink = node->folder ? 2 : node->links;
  st->st_uid = node->uid;
  st->st_gid = node->gid;
  st->st_ino = node->ino;
  st->st_size = static_cast<off_t>(node->data.size());
  st->st_blksize = 4096;
  st->st_blocks = static_cast<blkcnt_t>((node->data.size() + 511) / 512);
  return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
            fuse_readdir_flags) {
  if (int gone = Gate(false)) return gone;
  NodePtr node = Find(path, fi);
  if (!node || !node->folder) return -ENOTDIR;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (auto& [name, child] : node->entries) {
    fill(buf, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  return 0;
}

int Hold(const NodePtr& node, fuse_file_info* fi) {
  fi->fh = S().next_handle++;
  fi->direct_io = 1;
  S().handles[fi->fh] = node;
  return 0;
}

int OpenDir(const char* path, fuse_file_info* fi) {
  if (int gone = Gate(false)) return gone;
  NodePtr node = Resolve(path);
  return !node ? -ENOENT : node->folder ? Hold(node, fi) : -ENOTDIR;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  std::string name;
  NodePtr parent = Parent(path, &name);
  if (!parent) return -ENOENT;
  auto found = parent->entries.find(name);
  if (found != parent->entries.end()) {
    if ((fi->flags & O_EXCL) != 0) return -EEXIST;
    if (found->second->folder) return -EISDIR;
    if ((fi->flags & O_TRUNC) != 0) found->second->data.clear();
    return Hold(found->second, fi);
  }
  NodePtr node = NewNode(false, mode);
  node->uid = fuse_get_context()->uid;
  node->gid = fuse_get_context()->gid;
  node->links = 1;
  parent->entries[name] = node;
  return Hold(node, fi);
}

int Open(const char* path, fuse_file_info* fi) {
  if (IsControl(path)) {
    fi->fh = 0;
    fi->direct_io = 1;
    return 0;
  }
  if (int gone = Gate((fi->flags & O_TRUNC) != 0)) return gone;
  NodePtr node = Resolve(path);
  if (!node) return -ENOENT;
  if (node->folder) return -EISDIR;
  if ((fi->flags & O_TRUNC) != 0) node->data.clear();
  return Hold(node, fi);
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  std::string control;
  const std::string* bytes = &control;
  if (fi->fh == 0) {
    control = "operations " + std::to_string(S().operations) + "\n";
  } else {
    if (int gone = Gate(false)) return gone;
    NodePtr node = Find(path, fi);
    if (!node) return -EBADF;
    bytes = &node->data;
  }
  const auto at = static_cast<std::size_t>(offset);
  if (at >= bytes->size()) return 0;
  const std::size_t count = std::min(size, bytes->size() - at);
  std::memcpy(buf, bytes->data() + at, count);
  return static_cast<int>(count);
}

int Write(const char* path, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  if (fi->fh == 0) {
    const std::string command(buf, size);
    if (command.rfind("sync", 0) == 0) MakeDurable(S().root);
    if (command.rfind("dump", 0) == 0) DumpAll();
    return static_cast<int>(size);
  }
  if (int gone = Gate(true)) return gone;
  NodePtr node = Find(path, fi);
  if (!node) return -EBADF;
  const auto at = static_cast<std::size_t>(offset);
  if (node->data.size() < at + size) node->data.resize(at + size);
  node->data.replace(at, size, buf, size);
  return static_cast<int>(size);
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  NodePtr node = Find(path, fi);
  if (!node) return -ENOENT;
  if (node->folder) return -EISDIR;
  node->data.resize(static_cast<std::size_t>(size));
  return 0;
}

int Unlink(const char* path) {
  if (int gone = Gate(true)) return gone;
  std::string name;
  NodePtr parent = Parent(path, &name);
  if (!parent) return -ENOENT;
  auto found = parent->entries.find(name);
  if (found == parent->entries.end()) return -ENOENT;
  if (found->second->folder) return -EISDIR;
  --found->second->links;
  parent->entries.erase(found);
  return 0;
}

int Rename(const char* from, const char* to, unsigned int flags) {
  if (int gone = Gate(true)) return gone;
  if ((flags & ~RENAME_NOREPLACE) != 0) return -EINVAL;
  std::string from_name, to_name;
  NodePtr from_parent = Parent(from, &from_name);
  NodePtr to_parent = Parent(to, &to_name);
  NodePtr node = from_parent ? Resolve(from) : nullptr;
  if (!node || !to_parent) return -ENOENT;
  NodePtr old = Resolve(to);
  if (old) {
    if ((flags & RENAME_NOREPLACE) != 0) return -EEXIST;
    if (old == node) return 0;  // two names of one file: nothing happens
    if (old->folder != node->folder) return old->folder ? -EISDIR : -ENOTDIR;
    if (old->folder && !old->entries.empty()) return -ENOTEMPTY;
    --old->links;
  }
  from_parent->entries.erase(from_name);
  to_parent->entries[to_name] = node;
  return 0;
}

int Link(const char* from, const char* to) {
  if (int gone = Gate(true)) return gone;
  std::string name;
  NodePtr parent = Parent(to, &name);
  NodePtr node = Resolve(from);
  if (!node || !parent) return -ENOENT;
  if (node->folder) return -EPERM;
  if (parent->entries.count(name) != 0) return -EEXIST;
  ++node->links;
  parent->entries[name] = node;
  return 0;
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  NodePtr node = Find(path, fi);
  if (!node) return -ENOENT;
  node->mode = mode & 07777;
  return 0;
}

int ChangeOwner(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  NodePtr node = Find(path, fi);
  if (!node) return -ENOENT;
  if (uid != static_cast<uid_t>(-1)) node->uid = uid;
  if (gid != static_cast<gid_t>(-1)) node->gid = gid;
  return 0;
}

int Sync(const char* path, int, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  if (S().fail_sync) return -EIO;
  NodePtr node = Find(path, fi);
  if (!node) return -EBADF;
  node->durable_data = node->data;
  return 0;
}

int SyncDir(const char* path, int, fuse_file_info* fi) {
  if (int gone = Gate(true)) return gone;
  if (S().fail_sync) return -EIO;
  NodePtr node = Find(path, fi);
  if (!node || !node->folder) return -EBADF;
  node->durable_entries = node->entries;
  return 0;
}

int Flush(const char*, fuse_file_info* fi) { return fi->fh == 0 ? 0 : Gate(false); }

int Release(const char*, fuse_file_info* fi) {
  S().handles.erase(fi->fh);
  return 0;
}

int StatFs(const char*, struct statvfs* st) {
  if (int gone = Gate(false)) return gone;
  *st = {};
  st->f_bsize = st->f_frsize = 4096;
  st->f_blocks = st->f_bfree = st->f_bavail = st->f_files = st->f_ffree = 1 << 20;
  st->f_namemax = 255;
  return 0;
}

struct Options {
  unsigned long cut_after = 0;
  int fail_sync = 0;
  char* seed = nullptr;
  char* dump = nullptr;
};

}  // namespace

int main(int argc, char* argv[]) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  Options options;
  const fuse_opt specs[] = {{"--cut-after=%lu", offsetof(Options, cut_after), 0},
                            {"--fail-sync", offsetof(Options, fail_sync), 1},
                            {"--seed=%s", offsetof(Options, seed), 0},
                            {"--dump=%s", offsetof(Options, dump), 0},
                            FUSE_OPT_END};
  if (fuse_opt_parse(&args, &options, specs, nullptr) != 0) return 1;
  // One thread: the operations need no locks and arrive in one order.
  fuse_opt_add_arg(&args, "-s");

  State state;
  state.cut_after = options.cut_after;
  state.fail_sync = options.fail_sync != 0;
  if (options.seed != nullptr) state.seed = options.seed;
  if (options.dump != nullptr) state.dump = options.dump;
  fuse_operations ops{};
  ops.init = Init;
  ops.destroy = Destroy;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.opendir = OpenDir;
  ops.create = Create;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  ops.unlink = Unlink;
  ops.rename = Rename;
  ops.link = Link;
  ops.chmod = ChangeMode;
  ops.chown = ChangeOwner;
  ops.fsync = Sync;
  ops.fsyncdir = SyncDir;
  ops.flush = Flush;
  ops.release = Release;
  ops.releasedir = Release;
  ops.statfs = StatFs;
  const int status = fuse_main(args.argc, args.argv, &ops, &state);
  fuse_opt_free_args(&args);
  free(options.seed);
  free(options.dump);
  return status;
}
