#include "graphics/graLoadProbe.h"

#include <irrlicht.h>
#include <openssl/evp.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "binding/gConsole.h"
#include "graphics/graImageLoader.h"
#include "platform/gFileSystem.h"
#include "platform/gIsolated.h"

namespace {

// Keeps the trial device silent: its banner and load messages would otherwise go through
// standard output, whose lock another thread of the parent may have held at the fork.
class Quiet : public irr::IEventReceiver {
 public:
  bool OnEvent(const irr::SEvent& a_event) override { return a_event.EventType == irr::EET_LOG_TEXT_EVENT; }
};

irr::IrrlichtDevice* NullDevice(Quiet* a_quiet) {
  irr::SIrrlichtCreationParameters parameters;
  parameters.DriverType = irr::video::EDT_NULL;
  parameters.EventReceiver = a_quiet;
  irr::IrrlichtDevice* device = irr::createDeviceEx(parameters);
  // The trial sees pictures as the player does.
  if (device) graImageLoader::Install(device->getVideoDriver());
  return device;
}

void Load(irr::IrrlichtDevice* a_device, graLoadProbe::Kind a_kind, const std::string& a_name) {
  switch (a_kind) {
    case graLoadProbe::MESH:
      a_device->getSceneManager()->getMesh(a_name.c_str());
      break;
    case graLoadProbe::TEXTURE:
      a_device->getVideoDriver()->getTexture(a_name.c_str());
      break;
    case graLoadProbe::FONT:
      a_device->getGUIEnvironment()->getFont(a_name.c_str());
      break;
  }
}

// Runs in the child: a null device given the parent's archives and working folder, and
// the one load. The parent waits meanwhile, so sharing its open archives is safe.
void TryLoad(irr::io::IFileSystem* a_files, graLoadProbe::Kind a_kind, const std::string& a_name) {
  Quiet quiet;
  irr::IrrlichtDevice* trial = NullDevice(&quiet);
  if (!trial) return;
  irr::io::IFileSystem* to = trial->getFileSystem();
  to->changeWorkingDirectoryTo(a_files->getWorkingDirectory());
  for (irr::u32 i = 0; i < a_files->getFileArchiveCount(); ++i) to->addFileArchive(a_files->getFileArchive(i));
  Load(trial, a_kind, a_name);
}

// ---- The package trial ------------------------------------------------------------------

// Bumped whenever what a verdict depends on changes (the loaders we put before the engine's).
const char kCacheHeader[] = "ombrix load trials 1";
// Verdicts of other packages kept beside the current one's.
const size_t kCacheLimit = 20000;

const char kOk[] = "ok";
const char kCrashed[] = "crashed";

// A file of the package: an archive's entry, or a loose file of the working folder.
struct PackageFile {
  std::string name;  // as a game names it
  int archive = -1;
  irr::u32 entry = 0;
  std::string path;  // a loose file's absolute path
  bool tried = false;
  graLoadProbe::Kind kind = graLoadProbe::TEXTURE;
};

std::string Hex(const unsigned char* a_bytes, unsigned a_length) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < a_length; ++i) {
    text += digits[a_bytes[i] >> 4];
    text += digits[a_bytes[i] & 15];
  }
  return text;
}

class Sha1 {
 public:
  Sha1() : m_context(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha1(), nullptr) == 1;
  }
  void Add(const void* a_bytes, size_t a_size) {
    m_ok = m_ok && EVP_DigestUpdate(m_context.get(), a_bytes, a_size) == 1;
  }
  void Add(const std::string& a_text) { Add(a_text.data(), a_text.size()); }
  // 40 hexadecimal digits, or empty when the digest failed.
  std::string Digest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1) return "";
    return Hex(digest, length);
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> m_context;
  bool m_ok = false;
};

std::string Lower(std::string a_text) {
  for (char& c : a_text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return a_text;
}

std::string Extension(const std::string& a_name) {
  const size_t dot = a_name.rfind('.');
  return dot == std::string::npos ? "" : Lower(a_name.substr(dot));
}

bool IsScript(const std::string& a_name) { return Extension(a_name) == ".qv"; }

struct PackageTrial {
  irr::io::IFileSystem* files = nullptr;
  std::string workingFolder;
  std::vector<std::string> archives;  // absolute paths, in the file system's order
  std::vector<PackageFile> all;       // every file but scripts: what a mesh may pull in
  std::vector<int> items;             // the meshes and pictures among them, in trial order
  std::map<std::string, int> byPlace;  // "a<archive>:<entry>" or "f:<name>" to an item
  std::map<std::string, std::string> cache;  // key to verdict, as read at the start
  std::vector<std::string> cacheOrder;
  std::unique_ptr<gIsolatedBatch> batch;
  bool saved = false;
};

std::unique_ptr<PackageTrial> s_trial;

// Child-side: the trial's own device, archives opened anew (the parent reads its own copies
// meanwhile, and an open file's position is shared across a fork), and each file's key.
struct ChildState {
  Quiet quiet;
  irr::IrrlichtDevice* device = nullptr;
  std::vector<std::string> keys;  // per item
};

std::string HashOf(irr::io::IFileSystem* a_files, const PackageFile& a_file) {
  irr::io::IReadFile* file = nullptr;
  if (a_file.archive >= 0) {
    if (static_cast<irr::u32>(a_file.archive) < a_files->getFileArchiveCount())
      file = a_files->getFileArchive(static_cast<irr::u32>(a_file.archive))->createAndOpenFile(a_file.entry);
  } else if (gFileSystem::IsRegularFile(a_file.path.c_str())) {
    file = a_files->createAndOpenFile(a_file.path.c_str());
  }
  if (!file) return "";
  Sha1 sum;
  char block[64 * 1024];
  long left = file->getSize();
  while (left > 0) {
    const irr::s32 got = file->read(block, static_cast<irr::u32>(left < static_cast<long>(sizeof block) ? left : sizeof block));
    if (got <= 0) break;
    sum.Add(block, static_cast<size_t>(got));
    left -= got;
  }
  file->drop();
  return left == 0 ? sum.Digest() : "";
}

// What a file's verdict depends on: its bytes and the loader its name picks, and for a mesh
// every other file it could pull in (textures, material libraries).
void Prepare(ChildState* a_state, const PackageTrial& a_trial) {
  a_state->device = NullDevice(&a_state->quiet);
  if (!a_state->device) return;
  irr::io::IFileSystem* files = a_state->device->getFileSystem();
  files->changeWorkingDirectoryTo(a_trial.workingFolder.c_str());
  for (const std::string& archive : a_trial.archives)
    files->addFileArchive(archive.c_str(), /*ignoreCase=*/true, /*ignorePaths=*/true, irr::io::EFAT_ZIP);
  std::vector<std::string> hashes;
  Sha1 companions;
  for (const PackageFile& file : a_trial.all) {
    hashes.push_back(HashOf(files, file));
    companions.Add(Lower(file.name) + '\0' + hashes.back() + '\n');
  }
  const std::string around = companions.Digest();
  for (int index : a_trial.items) {
    const PackageFile& file = a_trial.all[static_cast<size_t>(index)];
    const std::string& hash = hashes[static_cast<size_t>(index)];
    if (hash.empty()) {
      a_state->keys.push_back("");
      continue;
    }
    Sha1 key;
    key.Add(std::string(kCacheHeader) + '\n' + IRRLICHT_SDK_VERSION + '\n' + graLoadProbe::KindName(file.kind) + '\n' +
            Extension(file.name) + '\n' + hash + '\n' + (file.kind == graLoadProbe::MESH ? around : ""));
    a_state->keys.push_back(key.Digest());
  }
}

void TryItem(int a_item, const std::function<void(const std::string&)>& a_note) {
  static ChildState* state = nullptr;
  const PackageTrial& trial = *s_trial;
  if (!state) {
    state = new ChildState();
    Prepare(state, trial);
  }
  const std::string key = a_item < static_cast<int>(state->keys.size()) ? state->keys[static_cast<size_t>(a_item)] : "";
  const auto known = key.empty() ? trial.cache.end() : trial.cache.find(key);
  // The note says the key and, when the cache knows it, the verdict: then nothing is loaded.
  a_note((key.empty() ? "-" : key) + " " + (known != trial.cache.end() ? known->second : "-"));
  if (known != trial.cache.end() || !state->device) return;
  const PackageFile& file = trial.all[static_cast<size_t>(trial.items[static_cast<size_t>(a_item)])];
  Load(state->device, file.kind, file.name);
}

std::string CacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // A relative XDG_CACHE_HOME is to be ignored.
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/ombrix";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/ombrix";
  return "";
}

// The verdicts of earlier runs; a file that is not what this player writes is ignored, with
// one line, and written anew at the end.
void ReadCache(PackageTrial* a_trial) {
  const std::string path = graLoadProbe::CacheFile();
  if (path.empty() || !gFileSystem::IsRegularFile(path.c_str())) return;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return;
  // Another version's verdicts are not damage, only stale.
  if (line.rfind("ombrix load trials ", 0) == 0 && line != kCacheHeader) return;
  bool damaged = line != kCacheHeader;
  std::map<std::string, std::string> cache;
  std::vector<std::string> order;
  while (!damaged && std::getline(in, line)) {
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string verdict = space == std::string::npos ? "" : line.substr(space + 1);
    bool hex = key.size() == 40;
    for (char c : key) hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    if (!hex || (verdict != kOk && verdict != kCrashed)) damaged = true;
    else if (cache.emplace(key, verdict).second) order.push_back(key);
  }
  if (damaged) {
    std::fprintf(stderr, "ombrix: the load trial cache %s is damaged; it was ignored and will be written anew\n",
                 gConsole::Quote(path).c_str());
    return;
  }
  a_trial->cache = std::move(cache);
  a_trial->cacheOrder = std::move(order);
}

void Complain(const std::string& a_path, const char* a_why) {
  std::fprintf(stderr, "ombrix: cannot write the load trial cache %s (%s); load trials are not remembered\n",
               gConsole::Quote(a_path).c_str(), a_why);
}

// The verdict of an item the batch has finished with, from the batch and the note.
gIsolated::Result Verdict(const PackageTrial& a_trial, int a_item, std::string* a_key) {
  const gIsolated::Result result = a_trial.batch->ResultOf(a_item);
  const std::string& note = a_trial.batch->NoteOf(a_item);
  const size_t space = note.find(' ');
  const std::string key = note.substr(0, space);
  if (a_key) *a_key = key == "-" ? "" : key;
  if (result == gIsolated::FINISHED && space != std::string::npos && note.compare(space + 1, std::string::npos, kCrashed) == 0)
    return gIsolated::CRASHED;
  return result;
}

void WriteCache(PackageTrial* a_trial) {
  a_trial->saved = true;
  const std::string path = graLoadProbe::CacheFile();
  if (path.empty()) return;
  std::vector<std::pair<std::string, std::string>> fresh;
  std::set<std::string> mine;
  bool changed = false;
  for (int i = 0; i < a_trial->batch->Count(); ++i) {
    std::string key;
    const gIsolated::Result result = Verdict(*a_trial, i, &key);
    // A hang may be the machine's, not the file's: it is tried again next time.
    if (key.empty() || (result != gIsolated::FINISHED && result != gIsolated::CRASHED)) continue;
    if (!mine.insert(key).second) continue;
    const char* verdict = result == gIsolated::FINISHED ? kOk : kCrashed;
    const auto known = a_trial->cache.find(key);
    if (known == a_trial->cache.end() || known->second != verdict) changed = true;
    fresh.emplace_back(key, verdict);
  }
  if (!changed) return;

  const std::string folder = path.substr(0, path.rfind('/'));
  const std::string parent = folder.substr(0, folder.rfind('/'));
  if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return Complain(path, std::strerror(errno));
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Complain(path, std::strerror(errno));
  // Written whole beside it and renamed over it, so a reader never sees half a file.
  const std::string temporary = path + "." + std::to_string(getpid());
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) return Complain(path, std::strerror(errno));
  std::fprintf(out, "%s\n", kCacheHeader);
  size_t written = 0;
  for (const auto& [key, verdict] : fresh) {
    std::fprintf(out, "%s %s\n", key.c_str(), verdict.c_str());
    ++written;
  }
  for (const std::string& key : a_trial->cacheOrder) {
    if (written >= kCacheLimit) break;
    if (mine.count(key)) continue;
    std::fprintf(out, "%s %s\n", key.c_str(), a_trial->cache[key].c_str());
    ++written;
  }
  const bool ok = std::fflush(out) == 0 && !std::ferror(out);
  const int error = errno;
  std::fclose(out);
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    Complain(path, std::strerror(ok ? errno : error));
    std::remove(temporary.c_str());
  }
}

// The item a name designates, found as the file system finds files: the first archive that
// holds the bare name, else a loose file of the working folder; -1 when neither.
int ItemNamed(const PackageTrial& a_trial, graLoadProbe::Kind a_kind, const std::string& a_name) {
  std::string place;
  for (irr::u32 i = 0; i < a_trial.files->getFileArchiveCount() && place.empty(); ++i) {
    const irr::io::IFileList* list = a_trial.files->getFileArchive(i)->getFileList();
    const irr::s32 index = list ? list->findFile(a_name.c_str()) : -1;
    if (index >= 0) place = "a" + std::to_string(i) + ":" + std::to_string(index);
  }
  if (place.empty()) place = "f:" + a_name;
  const auto found = a_trial.byPlace.find(place);
  if (found == a_trial.byPlace.end()) return -1;
  const PackageFile& file = a_trial.all[static_cast<size_t>(a_trial.items[static_cast<size_t>(found->second)])];
  return file.kind == a_kind ? found->second : -1;
}

std::map<std::tuple<irr::io::IFileSystem*, int, std::string>, bool> s_verdicts;

}  // namespace

bool graLoadProbe::Loads(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name) {
  // Names of the engine's own built-in resources ("#DefaultFont") are no files.
  if (!a_files || a_name.empty() || a_name[0] == '#') return true;
  const auto key = std::make_tuple(a_files, static_cast<int>(a_kind), a_name);
  const auto known = s_verdicts.find(key);
  if (known != s_verdicts.end()) return known->second;
  if (!gFileSystem::Openable(a_files, a_name.c_str())) return s_verdicts[key] = false;

  gIsolated::Result result = gIsolated::UNAVAILABLE;
  const int item = s_trial && s_trial->files == a_files ? ItemNamed(*s_trial, a_kind, a_name) : -1;
  if (item >= 0) {
    s_trial->batch->Wait(item);
    result = Verdict(*s_trial, item, nullptr);
  } else {
    result = Try(a_files, a_kind, a_name);
  }
  // Without a child to try in, the file is loaded as it always was.
  const bool loads = result == gIsolated::FINISHED || result == gIsolated::UNAVAILABLE;
  if (result == gIsolated::CRASHED)
    gConsole::Line("%s is damaged: the %s loader crashed on it, so it was not loaded", gConsole::Quote(a_name).c_str(),
                   KindName(a_kind));
  else if (result == gIsolated::TIMED_OUT)
    gConsole::Line("%s is damaged: the %s loader did not finish with it in %d s, so it was not loaded",
                   gConsole::Quote(a_name).c_str(), KindName(a_kind), kTimeoutMs / 1000);
  s_verdicts[key] = loads;
  return loads;
}

void graLoadProbe::BeginPackage(irr::IrrlichtDevice* a_device, bool a_looseFiles) {
  Reset();
  if (!a_device) return;
  auto trial = std::make_unique<PackageTrial>();
  irr::io::IFileSystem* files = a_device->getFileSystem();
  trial->files = files;
  trial->workingFolder = files->getWorkingDirectory().c_str();
  std::set<std::string> seen;  // the first archive holding a name hides the others
  for (irr::u32 i = 0; i < files->getFileArchiveCount(); ++i) {
    const irr::io::IFileList* list = files->getFileArchive(i)->getFileList();
    trial->archives.push_back(list ? files->getAbsolutePath(list->getPath()).c_str() : "");
    for (irr::u32 j = 0; list && j < list->getFileCount(); ++j) {
      const std::string name = list->getFileName(j).c_str();
      if (list->isDirectory(j) || name.empty() || IsScript(name) || !seen.insert(Lower(name)).second) continue;
      PackageFile file;
      file.name = name;
      file.archive = static_cast<int>(i);
      file.entry = j;
      if (KindOf(a_device, name, &file.kind)) {
        trial->byPlace["a" + std::to_string(i) + ":" + std::to_string(j)] = static_cast<int>(trial->items.size());
        trial->items.push_back(static_cast<int>(trial->all.size()));
      }
      trial->all.push_back(file);
    }
  }
  if (irr::io::IFileList* list = a_looseFiles ? files->createFileList() : nullptr) {
    for (irr::u32 j = 0; j < list->getFileCount(); ++j) {
      const std::string name = list->getFileName(j).c_str();
      const std::string path = list->getFullFileName(j).c_str();
      if (list->isDirectory(j) || IsScript(name) || !gFileSystem::IsRegularFile(path.c_str())) continue;
      PackageFile file;
      file.name = name;
      file.path = path;
      if (KindOf(a_device, name, &file.kind)) {
        trial->byPlace["f:" + name] = static_cast<int>(trial->items.size());
        trial->items.push_back(static_cast<int>(trial->all.size()));
      }
      trial->all.push_back(file);
    }
    list->drop();
  }
  ReadCache(trial.get());
  s_trial = std::move(trial);
  s_trial->saved = s_trial->items.empty();
  s_trial->batch = std::make_unique<gIsolatedBatch>(static_cast<int>(s_trial->items.size()), TryItem, kTimeoutMs);
}

void graLoadProbe::Collect() {
  if (s_trial && !s_trial->saved && s_trial->batch->Poll()) WriteCache(s_trial.get());
}

void graLoadProbe::Finish() {
  if (!s_trial || s_trial->saved) return;
  s_trial->batch->WaitAll();
  WriteCache(s_trial.get());
}

void graLoadProbe::Reset() {
  s_trial.reset();
  s_verdicts.clear();
}

int graLoadProbe::PackageFiles() { return s_trial ? static_cast<int>(s_trial->items.size()) : 0; }

int graLoadProbe::PackageTrialLoads() {
  if (!s_trial) return 0;
  int loads = 0;
  for (int i = 0; i < s_trial->batch->Count(); ++i) {
    const std::string& note = s_trial->batch->NoteOf(i);
    // Loaded unless the cache answered ("KEY VERDICT"); an item that ended the child
    // before its note was loaded as well.
    if (note.empty() || note.size() < 2 || note.compare(note.size() - 2, 2, " -") == 0) ++loads;
  }
  return loads;
}

std::string graLoadProbe::CacheFile() {
  const std::string folder = CacheFolder();
  return folder.empty() ? "" : folder + "/load-trials";
}

gIsolated::Result graLoadProbe::Try(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name) {
  return gIsolated::Run([&] { TryLoad(a_files, a_kind, a_name); }, kTimeoutMs);
}

bool graLoadProbe::KindOf(irr::IrrlichtDevice* a_device, const std::string& a_name, Kind* a_kind) {
  if (!a_device) return false;
  const irr::io::path name = a_name.c_str();
  irr::scene::ISceneManager* scene = a_device->getSceneManager();
  for (irr::u32 i = 0; i < scene->getMeshLoaderCount(); ++i)
    if (scene->getMeshLoader(i)->isALoadableFileExtension(name)) {
      *a_kind = MESH;
      return true;
    }
  irr::video::IVideoDriver* driver = a_device->getVideoDriver();
  for (irr::u32 i = 0; i < driver->getImageLoaderCount(); ++i)
    if (driver->getImageLoader(i)->isALoadableFileExtension(name)) {
      *a_kind = TEXTURE;
      return true;
    }
  return false;
}

const char* graLoadProbe::KindName(Kind a_kind) {
  switch (a_kind) {
    case MESH:
      return "mesh";
    case TEXTURE:
      return "texture";
    default:
      return "font";
  }
}
