#include "graphics/graLoadProbe.h"

#include <irrlicht.h>

#include <map>
#include <tuple>

#include "binding/gConsole.h"
#include "platform/gIsolated.h"

namespace {

// Keeps the trial device silent: its banner and load messages would otherwise go through
// standard output, whose lock another thread of the parent may have held at the fork.
class Quiet : public irr::IEventReceiver {
 public:
  bool OnEvent(const irr::SEvent& a_event) override { return a_event.EventType == irr::EET_LOG_TEXT_EVENT; }
};

// Runs in the child: a null device given the parent's archives and working folder, and
// the one load.
void TryLoad(irr::io::IFileSystem* a_files, graLoadProbe::Kind a_kind, const std::string& a_name) {
  Quiet quiet;
  irr::SIrrlichtCreationParameters parameters;
  parameters.DriverType = irr::video::EDT_NULL;
  parameters.EventReceiver = &quiet;
  irr::IrrlichtDevice* trial = irr::createDeviceEx(parameters);
  if (!trial) return;
  irr::io::IFileSystem* from = a_files;
  irr::io::IFileSystem* to = trial->getFileSystem();
  to->changeWorkingDirectoryTo(from->getWorkingDirectory());
  for (irr::u32 i = 0; i < from->getFileArchiveCount(); ++i) to->addFileArchive(from->getFileArchive(i));
  switch (a_kind) {
    case graLoadProbe::MESH:
      trial->getSceneManager()->getMesh(a_name.c_str());
      break;
    case graLoadProbe::TEXTURE:
      trial->getVideoDriver()->getTexture(a_name.c_str());
      break;
    case graLoadProbe::FONT:
      trial->getGUIEnvironment()->getFont(a_name.c_str());
      break;
  }
}

}  // namespace

bool graLoadProbe::Loads(irr::io::IFileSystem* a_files, Kind a_kind, const std::string& a_name) {
  // Names of the engine's own built-in resources ("#DefaultFont") are no files.
  if (!a_files || a_name.empty() || a_name[0] == '#') return true;
  static std::map<std::tuple<irr::io::IFileSystem*, int, std::string>, bool> verdicts;
  const auto key = std::make_tuple(a_files, static_cast<int>(a_kind), a_name);
  const auto known = verdicts.find(key);
  if (known != verdicts.end()) return known->second;

  const gIsolated::Result result = Try(a_files, a_kind, a_name);
  // Without a child to try in, the file is loaded as it always was.
  const bool loads = result == gIsolated::FINISHED || result == gIsolated::UNAVAILABLE;
  if (result == gIsolated::CRASHED)
    gConsole::Line("%s is damaged: the %s loader crashed on it, so it was not loaded", a_name.c_str(),
                   KindName(a_kind));
  else if (result == gIsolated::TIMED_OUT)
    gConsole::Line("%s is damaged: the %s loader did not finish with it in %d s, so it was not loaded",
                   a_name.c_str(), KindName(a_kind), kTimeoutMs / 1000);
  verdicts[key] = loads;
  return loads;
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
