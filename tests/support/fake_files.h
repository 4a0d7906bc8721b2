// An in-memory file tree behind the file services, with Windows-like
// attributes, injectable failures, a log of every change, a current folder, an
// optional confinement to a scratch folder, a subfolder that is swapped for a
// link while a walk runs and a hook after each copied file; put in place for
// its lifetime.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

class FakeFiles final : public platform::FileServices {
 public:
  enum class Type { File, Folder, FolderLink, Other };  // Other: a FIFO, socket, device or broken link
  struct Node {
    Type Kind = Type::File;
    unsigned Mode = 0755;         // a folder's permission bits
    std::string Data;             // a file's bytes
    bool ReadOnly = false;        // DeleteEntry, WriteFile and copies onto it fail; a folder cannot be removed
    bool Hidden = false;          // WriteFile (re-creation) fails, as on Windows
    bool System = false;          // as Hidden
    bool Foreign = false;         // a folder owned by another user
    std::string Target;           // a folder link: the key of the folder it names
  };

  // Paths are written with the platform's delimiters; parents are created.
  Node& AddFolder(const std::u16string& path, bool foreign = false) {
    const std::string key = Key(path);
    AddParents(key);
    mNodes[key].Kind = Type::Folder;
    mNodes[key].Foreign = foreign;
    return mNodes[key];
  }
  // An entry that is neither a file nor a folder; opening it fails the test.
  void AddOther(const std::u16string& path) {
    const std::string key = Key(path);
    AddParents(key);
    mNodes[key] = Node{};
    mNodes[key].Kind = Type::Other;
  }
  Node& AddFile(const std::u16string& path, const std::string& data) {
    const std::string key = Key(path);
    AddParents(key);
    Node& node = mNodes[key];
    node = Node{};
    node.Data = data;
    return node;
  }
  void AddFolderLink(const std::u16string& path, const std::u16string& target) {
    const std::string key = Key(path);
    AddParents(key);
    Node link;
    link.Kind = Type::FolderLink;
    link.Target = Key(target);
    mNodes[key] = link;
  }
  // Between the listing that shows the folder at path and the walk's opening
  // of it, the folder is moved away and a link to target put in its place.
  void SwapForLinkBeforeOpen(const std::u16string& path, const std::u16string& target) {
    mSwaps[Key(path)] = Key(target);
  }
  // From now on every path used, and every entry a walk touches, must lie in
  // the folder root (or be root itself); any other calls onEscape with the
  // operation and key, and the operation fails.
  void Confine(const std::u16string& root, std::function<void(const std::string&)> onEscape) {
    const std::string rootKey = Key(root);
    Confine([rootKey](const std::string&, const std::string& key) { return Within(key, rootKey); }, std::move(onEscape));
  }
  // The same with a rule of the caller's: allowed (operation, key).
  void Confine(std::function<bool(const std::string&, const std::string&)> allowed,
               std::function<void(const std::string&)> onEscape) {
    mAllowed = std::move(allowed);
    mOnEscape = std::move(onEscape);
  }
  // True when the key is folder's or lies under it (every key lies under the root "").
  static bool Within(const std::string& key, const std::string& folder) {
    return folder.empty() || key == folder || key.rfind(folder + "/", 0) == 0;
  }

  // The key of a path as the services take it: relative to Current when it
  // does not begin at a root.
  std::string FullKey(const std::u16string& path) const {
    const common::PathDelimiters& delimiters = platform::PathDelimitersOfPlatform();
    const bool rooted = (!path.empty() && common::IsSeparator(path[0], delimiters)) ||
                        (path.size() >= 2 && path[1] == u':' && !delimiters.DriveMarks.empty());
    if (rooted || Current.empty() || path.empty()) return Key(path);
    return Key(Current + std::u16string(1, delimiters.Separators[0]) + path);
  }

  // The operation ("CopyFile", "DeleteEntry", "ClearAttributes", "RemoveFolder",
  // "CreateFolder", "ReadFile", "WriteFile", "OpenFolder") fails on the path.
  void FailOn(const std::string& operation, const std::u16string& path) { mFailing.insert(operation + " " + Key(path)); }

  bool Has(const std::u16string& path) const { return mNodes.count(Key(path)) != 0; }
  const Node* Find(const std::u16string& path) const {
    auto it = mNodes.find(Key(path));
    return it == mNodes.end() ? nullptr : &it->second;
  }
  // Every change made, in order: "Create k", "Copy k -> k", "Delete k",
  // "Clear k", "Remove k", "Write k" (k: the path with "/" between names).
  std::vector<std::string> Changes() const { return mChanges; }
  // The keys of every node, sorted.
  std::vector<std::string> Tree() const {
    std::vector<std::string> out;
    for (const auto& [key, node] : mNodes) out.push_back(node.Kind == Type::Folder ? key + "/" : key);
    return out;
  }
  static std::string Key(const std::u16string& path) {
    const common::PathDelimiters& delimiters = platform::PathDelimitersOfPlatform();
    std::string key;
    std::u16string name;
    // "." and ".." steps are resolved by text, as the real services do.
    auto flush = [&] {
      if (name.empty() || name == u".") {
        name.clear();
        return;
      }
      if (name == u"..") {
        const std::size_t slash = key.rfind('/');
        key.erase(slash == std::string::npos ? 0 : slash);
        name.clear();
        return;
      }
      if (!key.empty()) key += '/';
      key += platform::WideToUtf8(name);
      name.clear();
    };
    for (char16_t c : path) {
      if (common::IsSeparator(c, delimiters)) {
        flush();
      } else {
        name += c;
      }
    }
    flush();
    return key;
  }

  std::u16string Temp;     // what TempFolder reports
  std::u16string Executable;  // what OwnExecutablePath reports
  // Called after each file copied, with the number copied so far.
  std::function<void(int)> OnCopy;
  std::u16string Current;  // the current folder; empty: relative paths start at the root
  static constexpr std::size_t kMaxPath = 260;

  // FileServices
  std::u16string OwnExecutablePath() override { return Executable; }
  std::u16string FullPathName(std::u16string_view path) override { return std::u16string(path); }
  platform::PathKind GetPathKind(std::u16string_view path) override {
    if (path.empty()) return platform::PathKind::Missing;  // as the real services: nothing is looked at
    const std::string key = FullKey(std::u16string(path));
    const Node* node = Outside("GetPathKind", key) ? nullptr : Resolve(key);
    if (node == nullptr || node->Kind == Type::Other) return platform::PathKind::Missing;
    return node->Kind == Type::Folder ? platform::PathKind::Folder : platform::PathKind::File;
  }
  std::unique_ptr<platform::FolderWalk> OpenFolder(std::u16string_view path, platform::FollowLink follow) override {
    std::string key = FullKey(std::u16string(path));
    if (Outside("OpenFolder", key) || Failing("OpenFolder", key)) return nullptr;
    SwapIfAsked(key);
    auto it = mNodes.find(key);
    if (it != mNodes.end() && it->second.Kind == Type::FolderLink) {
      if (follow == platform::FollowLink::No) return nullptr;
      key = it->second.Target;
      if (Outside("OpenFolder", key)) return nullptr;
    }
    return OpenWalk(key);
  }
  bool CreateFolder(std::u16string_view path) override {
    const std::string key = FullKey(std::u16string(path));
    return !Outside("CreateFolder", key) && CreateKey(key);
  }
  bool RemoveFolder(std::u16string_view path) override {
    const std::string key = FullKey(std::u16string(path));
    return !Outside("RemoveFolder", key) && RemoveFolderKey(key);
  }
  bool CopyFileReplacing(std::u16string_view source, std::u16string_view target) override {
    const std::string from = FullKey(std::u16string(source));
    const std::string to = FullKey(std::u16string(target));
    return !Outside("CopyFile", from) && !Outside("CopyFile", to) && CopyKey(from, to);
  }
  std::u16string TempFolder() override { return Temp; }
  bool IsOwnRealFolder(std::u16string_view path) override {
    const std::string key = FullKey(std::u16string(path));
    if (Outside("IsOwnRealFolder", key)) return false;
    auto it = mNodes.find(key);
    return it != mNodes.end() && it->second.Kind == Type::Folder && !it->second.Foreign;
  }
  // False when a folder on the path's way is another user's.
  bool IsTrustedPath(std::u16string_view path) override {
    std::string key = FullKey(std::u16string(path));
    if (Outside("IsTrustedPath", key)) return false;
    for (; !key.empty(); key = Parent(key)) {
      auto it = mNodes.find(key);
      if (it != mNodes.end() && it->second.Foreign) return false;
    }
    return true;
  }
  bool SameFolder(std::u16string_view first, std::u16string_view second) override {
    const std::string a = ResolvedKey(FullKey(std::u16string(first)));
    const std::string b = ResolvedKey(FullKey(std::u16string(second)));
    if (Outside("SameFolder", a) || Outside("SameFolder", b)) return false;
    const Node* node = Resolve(a);
    return node != nullptr && node->Kind == Type::Folder && a == b;
  }
  bool FolderContains(std::u16string_view outer, std::u16string_view inner) override {
    const std::string a = Canonical(FullKey(std::u16string(outer)));
    std::string b = Canonical(FullKey(std::u16string(inner)));
    if (Outside("FolderContains", a) || Outside("FolderContains", b) || !FolderExists(a)) return false;
    while (!b.empty() && !FolderExists(b)) b = Parent(b);  // the nearest existing folder above
    return Within(b, a);
  }

  // The keys of entries that are neither files nor folders which something
  // tried to open.
  std::vector<std::string> OpenedOthers() const { return mOpenedOthers; }

 private:
  class Walk final : public platform::FolderWalk {
   public:
    Walk(FakeFiles& files, std::string key, std::vector<platform::FolderEntry> entries)
        : mFiles(files), mKey(std::move(key)), mEntries(std::move(entries)) {}
    bool Next(platform::FolderEntry* entry) override {
      if (mNext == mEntries.size()) return false;
      *entry = mEntries[mNext++];
      return true;
    }
    std::unique_ptr<platform::FolderWalk> OpenSubfolder(std::u16string_view name) override {
      const std::string key = Join(name);
      if (mFiles.Outside("OpenSubfolder", key)) return nullptr;
      mFiles.SwapIfAsked(key);
      auto it = mFiles.mNodes.find(key);
      if (it == mFiles.mNodes.end() || it->second.Kind != Type::Folder || mFiles.Failing("OpenFolder", key)) {
        return nullptr;
      }
      return mFiles.OpenWalk(key);
    }
    std::unique_ptr<platform::FolderWalk> CreateSubfolder(std::u16string_view name, bool* created) override {
      const std::string key = Join(name);
      *created = false;
      if (mFiles.Outside("CreateSubfolder", key)) return nullptr;
      if (mFiles.mNodes.count(key) == 0) {
        if (!mFiles.CreateKey(key)) return nullptr;
        mFiles.mNodes[key].Mode = 0700;
        *created = true;
      }
      auto it = mFiles.mNodes.find(key);
      if (it->second.Kind != Type::Folder) return nullptr;
      return mFiles.OpenWalk(key);
    }
    bool CopyFileInto(std::u16string_view name, platform::FolderWalk& target) override {
      auto* into = dynamic_cast<Walk*>(&target);
      if (into == nullptr) return false;
      const std::string from = Join(name);
      const std::string to = into->Join(name);
      return !mFiles.Outside("CopyFileInto", from) && !mFiles.Outside("CopyFileInto", to) && mFiles.CopyKey(from, to);
    }
    platform::FolderIdentity Identity() override { return {0, std::hash<std::string>{}(mKey)}; }
    unsigned PermissionBits() override { return mFiles.FolderNode(mKey).Mode; }
    bool SetPermissionBits(unsigned bits) override {
      mFiles.FolderNode(mKey).Mode = bits & 0777;
      return true;
    }
    bool DeleteEntry(std::u16string_view name) override {
      const std::string key = Join(name);
      if (mFiles.Outside("DeleteEntry", key)) return false;
      auto it = mFiles.mNodes.find(key);
      if (mFiles.Failing("DeleteEntry", key) || it == mFiles.mNodes.end() || it->second.Kind == Type::Folder ||
          it->second.ReadOnly) {
        return false;
      }
      mFiles.mNodes.erase(it);
      mFiles.mChanges.push_back("Delete " + key);
      return true;
    }
    bool ClearAttributes(std::u16string_view name) override {
      const std::string key = Join(name);
      return !mFiles.Outside("ClearAttributes", key) && mFiles.ClearKey(key);
    }
    bool RemoveSubfolder(std::u16string_view name) override {
      const std::string key = Join(name);
      return !mFiles.Outside("RemoveSubfolder", key) && mFiles.RemoveFolderKey(key);
    }
    platform::FileRead ReadFile(std::u16string_view name, std::size_t maxBytes, std::string* bytes) override {
      const std::string key = Join(name);
      if (mFiles.Outside("ReadFile", key)) return platform::FileRead::Refused;
      auto it = mFiles.mNodes.find(key);
      if (it == mFiles.mNodes.end()) return platform::FileRead::Missing;
      if (mFiles.Failing("ReadFile", key) || it->second.Kind != Type::File || it->second.Data.size() > maxBytes) {
        return platform::FileRead::Refused;
      }
      *bytes = it->second.Data;
      return platform::FileRead::Read;
    }
    bool WriteFile(std::u16string_view name, std::string_view bytes) override {
      const std::string key = Join(name);
      if (mFiles.Outside("WriteFile", key) || mFiles.Failing("WriteFile", key)) return false;
      auto it = mFiles.mNodes.find(key);
      if (it != mFiles.mNodes.end() &&
          (it->second.Kind != Type::File || it->second.ReadOnly || it->second.Hidden || it->second.System)) {
        return false;
      }
      mFiles.mNodes[key] = Node{};
      mFiles.mNodes[key].Data = std::string(bytes);
      mFiles.mChanges.push_back("Write " + key);
      return true;
    }

   private:
    // "." and ".." name this folder and its parent, as they do on the real systems.
    std::string Join(std::u16string_view name) const {
      if (name == u".") return mKey;
      if (name == u"..") return Parent(mKey);
      const std::string leaf = platform::WideToUtf8(name);
      return mKey.empty() ? leaf : mKey + "/" + leaf;
    }
    FakeFiles& mFiles;
    std::string mKey;
    std::vector<platform::FolderEntry> mEntries;
    std::size_t mNext = 0;
  };

  // True (after reporting it) when the key lies outside the confinement.
  bool Outside(const std::string& operation, const std::string& key) const {
    if (!mAllowed || mAllowed(operation, key)) return false;
    mOnEscape(operation + " " + (key.empty() ? std::string("(root)") : key));
    return true;
  }
  void SwapIfAsked(const std::string& key) {
    auto swap = mSwaps.find(key);
    if (swap == mSwaps.end()) return;
    const std::string moved = key + ".moved";
    std::map<std::string, Node> renamed;
    for (auto it = mNodes.begin(); it != mNodes.end();) {
      if (it->first == key || it->first.rfind(key + "/", 0) == 0) {
        renamed[moved + it->first.substr(key.size())] = it->second;
        it = mNodes.erase(it);
      } else {
        ++it;
      }
    }
    mNodes.insert(renamed.begin(), renamed.end());
    Node link;
    link.Kind = Type::FolderLink;
    link.Target = swap->second;
    mNodes[key] = link;
    mSwaps.erase(swap);
  }
  Node& FolderNode(const std::string& key) { return key.empty() ? mRoot : mNodes[key]; }
  bool CreateKey(const std::string& key) {
    if (Failing("CreateFolder", key) || mNodes.count(key) != 0 || !FolderExists(Parent(key))) return false;
    // Paths have a length limit, as on the real systems, so a walk that runs away ends.
    if (key.size() > kMaxPath) return false;
    mNodes[key].Kind = Type::Folder;
    mChanges.push_back("Create " + key);
    return true;
  }
  bool CopyKey(const std::string& from, const std::string& to) {
    const Node* in = Resolve(from);
    if (in != nullptr && in->Kind == Type::Other) {
      mOpenedOthers.push_back(from);
      return false;
    }
    if (Failing("CopyFile", to) || in == nullptr || in->Kind != Type::File || !FolderExists(Parent(to))) return false;
    auto out = mNodes.find(to);
    if (out != mNodes.end() && (out->second.Kind != Type::File || out->second.ReadOnly)) return false;
    const std::string data = in->Data;
    Node& node = mNodes[to];
    node = Node{};
    node.Data = data;
    mChanges.push_back("Copy " + from + " -> " + to);
    if (OnCopy) OnCopy(++mCopies);
    return true;
  }

  static std::string Parent(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
  }
  static bool IsChild(const std::string& key, const std::string& folder) {
    if (key.empty()) return false;
    return Parent(key) == folder;
  }
  void AddParents(const std::string& key) {
    for (std::string parent = Parent(key); !parent.empty(); parent = Parent(parent)) {
      if (mNodes.count(parent) == 0) mNodes[parent].Kind = Type::Folder;
    }
  }
  bool Failing(const std::string& operation, const std::string& key) const {
    return mFailing.count(operation + " " + key) != 0;
  }
  // The key with every folder link on its way replaced by the folder it names.
  std::string Canonical(const std::string& key) const {
    std::string out;
    std::size_t start = 0;
    while (start <= key.size()) {
      std::size_t end = key.find('/', start);
      if (end == std::string::npos) end = key.size();
      if (end > start) out = ResolvedKey(out.empty() ? key.substr(start, end - start) : out + "/" + key.substr(start, end - start));
      start = end + 1;
    }
    return out;
  }
  std::string ResolvedKey(const std::string& key) const {
    auto it = mNodes.find(key);
    return it != mNodes.end() && it->second.Kind == Type::FolderLink ? it->second.Target : key;
  }
  const Node* Resolve(const std::string& key) const {
    if (key.empty()) return &mRoot;
    auto it = mNodes.find(ResolvedKey(key));
    return it == mNodes.end() ? nullptr : &it->second;
  }
  bool FolderExists(const std::string& key) const {
    const Node* node = Resolve(key);
    return node != nullptr && node->Kind == Type::Folder;
  }
  std::unique_ptr<platform::FolderWalk> OpenWalk(const std::string& key) {
    if (!FolderExists(key) || Failing("OpenFolder", key)) return nullptr;
    std::vector<platform::FolderEntry> entries{{u".", platform::EntryKind::Folder}, {u"..", platform::EntryKind::Folder}};
    for (const auto& [child, node] : mNodes) {
      if (!IsChild(child, key)) continue;
      const platform::EntryKind kind = node.Kind == Type::Folder       ? platform::EntryKind::Folder
                                       : node.Kind == Type::FolderLink ? platform::EntryKind::FolderLink
                                       : node.Kind == Type::Other      ? platform::EntryKind::Other
                                                                       : platform::EntryKind::File;
      entries.push_back({platform::Utf8ToWide(child.substr(key.empty() ? 0 : key.size() + 1)), kind});
    }
    return std::make_unique<Walk>(*this, key, std::move(entries));
  }
  bool RemoveFolderKey(const std::string& key) {
    auto it = mNodes.find(key);
    if (Failing("RemoveFolder", key) || it == mNodes.end() || it->second.Kind == Type::File || it->second.ReadOnly) {
      return false;
    }
    if (it->second.Kind == Type::Folder) {
      for (const auto& entry : mNodes) {
        if (IsChild(entry.first, key)) return false;  // not empty
      }
    }
    mNodes.erase(it);
    mChanges.push_back("Remove " + key);
    return true;
  }
  bool ClearKey(const std::string& key) {
    auto it = mNodes.find(key);
    if (Failing("ClearAttributes", key) || it == mNodes.end()) return false;
    it->second.ReadOnly = it->second.Hidden = it->second.System = false;
    mChanges.push_back("Clear " + key);
    return true;
  }

  static Node RootNode() {
    Node root;
    root.Kind = Type::Folder;
    return root;
  }

  Node mRoot = RootNode();
  std::map<std::string, Node> mNodes;
  std::set<std::string> mFailing;
  std::vector<std::string> mChanges;
  std::vector<std::string> mOpenedOthers;
  int mCopies = 0;
  std::map<std::string, std::string> mSwaps;  // folder key -> the key its link names
  std::function<bool(const std::string&, const std::string&)> mAllowed;  // none: not confined
  std::function<void(const std::string&)> mOnEscape;
  platform::ScopedFilesForTesting mScope{*this};
};
