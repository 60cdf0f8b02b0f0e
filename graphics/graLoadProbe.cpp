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
#include <algorithm>
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
};

// One load to try: a file of the package with one of the loaders its name can reach.
struct TrialItem {
  int file = 0;  // in PackageTrial::all
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
  std::vector<std::string> archives;         // absolute paths, in the file system's order
  std::vector<PackageFile> all;              // every file but scripts: what a mesh may pull in
  std::vector<TrialItem> items;              // the meshes, pictures and fonts among them, in trial order
  std::vector<std::string> keys;             // per item; empty when its bytes could not be read
  std::map<std::string, int> byPlace;        // "<kind>a<archive>:<entry>" or "<kind>f:<name>" to an item
  std::map<std::string, std::string> cache;  // key to verdict, as read at the start
  std::vector<std::string> cacheOrder;
  std::vector<int> untried;               // the items the cache does not answer: the batch's, in order
  std::vector<int> inBatch;               // per item, its place in the batch, or -1
  std::unique_ptr<gIsolatedBatch> batch;  // none when the cache answers every item
  bool saved = false;
};

std::unique_ptr<PackageTrial> s_trial;

// Child-side: the trial's own device, with the archives opened anew (the parent reads its
// own copies meanwhile, and an open file's position is shared across a fork).
struct ChildState {
  Quiet quiet;
  irr::IrrlichtDevice* device = nullptr;
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
    const irr::s32 got =
        file->read(block, static_cast<irr::u32>(left < static_cast<long>(sizeof block) ? left : sizeof block));
    if (got <= 0) break;
    sum.Add(block, static_cast<size_t>(got));
    left -= got;
  }
  file->drop();
  return left == 0 ? sum.Digest() : "";
}

// What a file's verdict depends on: its bytes and the loader its name picks, and for a mesh
// or a font every other file it could pull in (textures, material libraries). Computed by
// the player itself, before any child: the archives passed the layout walk when mounted,
// so reading their entries is no riskier than a game reading its files, and a package the
// cache knows whole then needs no child at all.
void ComputeKeys(PackageTrial* a_trial) {
  std::vector<std::string> hashes;
  Sha1 companions;
  for (const PackageFile& file : a_trial->all) {
    hashes.push_back(HashOf(a_trial->files, file));
    companions.Add(Lower(file.name) + '\0' + hashes.back() + '\n');
  }
  const std::string around = companions.Digest();
  for (const TrialItem& item : a_trial->items) {
    const PackageFile& file = a_trial->all[static_cast<size_t>(item.file)];
    const std::string& hash = hashes[static_cast<size_t>(item.file)];
    if (hash.empty()) {
      a_trial->keys.push_back("");
      continue;
    }
    Sha1 key;
    key.Add(std::string(kCacheHeader) + '\n' + IRRLICHT_SDK_VERSION + '\n' + graLoadProbe::KindName(item.kind) + '\n' +
            Extension(file.name) + '\n' + hash + '\n' + (item.kind == graLoadProbe::TEXTURE ? "" : around));
    a_trial->keys.push_back(key.Digest());
  }
}

void Prepare(ChildState* a_state, const PackageTrial& a_trial) {
  a_state->device = NullDevice(&a_state->quiet);
  if (!a_state->device) return;
  irr::io::IFileSystem* files = a_state->device->getFileSystem();
  files->changeWorkingDirectoryTo(a_trial.workingFolder.c_str());
  for (const std::string& archive : a_trial.archives)
    files->addFileArchive(archive.c_str(), /*ignoreCase=*/true, /*ignorePaths=*/true, irr::io::EFAT_ZIP);
}

// The child's own state: made once, before its first item, and never freed (the child
// ends with _exit).
ChildState* s_child = nullptr;

void PrepareChild() {
  s_child = new ChildState();
  Prepare(s_child, *s_trial);
}

void TryItem(int a_place, const std::function<void(const std::string&)>&) {
  const PackageTrial& trial = *s_trial;
  if (!s_child) PrepareChild();
  const ChildState* state = s_child;
  if (!state->device) return;
  const TrialItem& item = trial.items[static_cast<size_t>(trial.untried[static_cast<size_t>(a_place)])];
  Load(state->device, item.kind, trial.all[static_cast<size_t>(item.file)].name);
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
    if (!hex || (verdict != kOk && verdict != kCrashed))
      damaged = true;
    else if (cache.emplace(key, verdict).second)
      order.push_back(key);
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

// The verdict of an item: the cache's, or how its load in the batch ended (waiting for it
// with a_wait, else PENDING when not known yet).
gIsolated::Result Verdict(const PackageTrial& a_trial, int a_item, bool a_wait) {
  const int place = a_trial.inBatch[static_cast<size_t>(a_item)];
  if (place < 0)
    return a_trial.cache.at(a_trial.keys[static_cast<size_t>(a_item)]) == kCrashed ? gIsolated::CRASHED
                                                                                   : gIsolated::FINISHED;
  return a_wait ? a_trial.batch->Wait(place) : a_trial.batch->ResultOf(place);
}

void WriteCache(PackageTrial* a_trial) {
  a_trial->saved = true;
  const std::string path = graLoadProbe::CacheFile();
  if (path.empty()) return;
  std::vector<std::pair<std::string, std::string>> fresh;
  std::set<std::string> mine;
  bool changed = false;
  for (size_t i = 0; i < a_trial->items.size(); ++i) {
    const std::string& key = a_trial->keys[i];
    const gIsolated::Result result = Verdict(*a_trial, static_cast<int>(i), false);
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
  const auto found = a_trial.byPlace.find(std::to_string(a_kind) + place);
  return found == a_trial.byPlace.end() ? -1 : found->second;
}

std::map<std::tuple<irr::io::IFileSystem*, int, std::string>, bool> s_verdicts;

// Whether a picture of that name never reaches an engine loader (graImageLoader decodes it
// alone), judged by its first bytes as the loader judges them.
bool DecodedAlone(irr::io::IFileSystem* a_files, const std::string& a_name) {
  irr::io::IReadFile* file = gFileSystem::Open(a_files, a_name.c_str());
  if (!file) return false;
  unsigned char start[8];
  const irr::s32 got = file->read(start, sizeof start);
  file->drop();
  return graImageLoader::DecodesAlone(start, got > 0 ? static_cast<size_t>(got) : 0, a_name);
}

// The loads a package file is tried with, under its place: a mesh's or a picture's by its
// extension (but no picture that is decoded without the engine's loaders), and the font
// loader's for XML, the engine's font description (which pulls in its pictures); an XML file
// is also a mesh to the engine, so it is tried both ways.
void AddItems(irr::IrrlichtDevice* a_device, PackageTrial* a_trial, const std::string& a_place) {
  const PackageFile& file = a_trial->all.back();
  std::vector<graLoadProbe::Kind> kinds;
  graLoadProbe::Kind kind;
  if (graLoadProbe::KindOf(a_device, file.name, &kind) &&
      !(kind == graLoadProbe::TEXTURE && DecodedAlone(a_trial->files, file.name)))
    kinds.push_back(kind);
  if (Extension(file.name) == ".xml") kinds.push_back(graLoadProbe::FONT);
  for (graLoadProbe::Kind each : kinds) {
    a_trial->byPlace[std::to_string(each) + a_place] = static_cast<int>(a_trial->items.size());
    a_trial->items.push_back(TrialItem{static_cast<int>(a_trial->all.size()) - 1, each});
  }
}

// The child takes the files in the order the script that runs first names them, so that
// the verdict the player waits for next is usually ready or being made; the files it does
// not name follow in their own order. Only the order changes: every file is still tried.
void OrderByMention(PackageTrial* a_trial, const std::string& a_script) {
  if (a_script.empty() || a_trial->untried.size() < 2) return;
  irr::io::IReadFile* file = gFileSystem::Open(a_trial->files, a_script.c_str());
  if (!file) return;
  std::string text(static_cast<size_t>(file->getSize() > 0 ? file->getSize() : 0), '\0');
  const irr::s32 got = text.empty() ? 0 : file->read(text.data(), static_cast<irr::u32>(text.size()));
  file->drop();
  text = Lower(text.substr(0, static_cast<size_t>(got > 0 ? got : 0)));
  std::map<int, size_t> mention;
  for (int item : a_trial->untried) {
    const std::string name =
        Lower(a_trial->all[static_cast<size_t>(a_trial->items[static_cast<size_t>(item)].file)].name);
    mention[item] = text.find('"' + name + '"');
  }
  std::stable_sort(a_trial->untried.begin(), a_trial->untried.end(),
                   [&](int a_one, int a_other) { return mention[a_one] < mention[a_other]; });
}

}  // namespace

bool graLoadProbe::Loads(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name) {
  // Names of the engine's own built-in resources ("#DefaultFont") are no files.
  if (!a_files || a_name.empty() || a_name[0] == '#') return true;
  const auto key = std::make_tuple(a_files, static_cast<int>(a_kind), a_name);
  const auto known = s_verdicts.find(key);
  if (known != s_verdicts.end()) return known->second;
  if (!gFileSystem::Openable(a_files, a_name.c_str())) return s_verdicts[key] = false;
  if (a_kind == TEXTURE && DecodedAlone(a_files, a_name)) return s_verdicts[key] = true;

  gIsolated::Result result = gIsolated::UNAVAILABLE;
  const int item = s_trial && s_trial->files == a_files ? ItemNamed(*s_trial, a_kind, a_name) : -1;
  if (item >= 0) {
    result = Verdict(*s_trial, item, true);
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

void graLoadProbe::BeginPackage(irr::IrrlichtDevice* a_device, bool a_looseFiles, const std::string& a_firstScript) {
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
      trial->all.push_back(file);
      AddItems(a_device, trial.get(), "a" + std::to_string(i) + ":" + std::to_string(j));
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
      trial->all.push_back(file);
      AddItems(a_device, trial.get(), "f:" + name);
    }
    list->drop();
  }
  ReadCache(trial.get());
  ComputeKeys(trial.get());
  trial->inBatch.assign(trial->items.size(), -1);
  for (size_t i = 0; i < trial->items.size(); ++i) {
    const std::string& key = trial->keys[i];
    if (!key.empty() && trial->cache.count(key)) continue;
    trial->untried.push_back(static_cast<int>(i));
  }
  OrderByMention(trial.get(), a_firstScript);
  for (size_t place = 0; place < trial->untried.size(); ++place)
    trial->inBatch[static_cast<size_t>(trial->untried[place])] = static_cast<int>(place);
  s_trial = std::move(trial);
  // With nothing to try, nothing new can be learnt, so the cache stays as it is.
  s_trial->saved = s_trial->untried.empty();
  if (!s_trial->untried.empty())
    s_trial->batch =
        std::make_unique<gIsolatedBatch>(static_cast<int>(s_trial->untried.size()), TryItem, kTimeoutMs, PrepareChild);
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

int graLoadProbe::PackageTrialLoads() { return s_trial ? static_cast<int>(s_trial->untried.size()) : 0; }

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
