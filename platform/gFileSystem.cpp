#include "platform/gFileSystem.h"

#include <irrlicht.h>
#include <sys/stat.h>

namespace {

// Where the file system would find a_name: an archive's entry (true, with *a_archive and
// *a_entry set), or else a loose path.
bool InArchive(irr::io::IFileSystem* a_files, const char* a_name, irr::io::IFileArchive** a_archive,
               irr::u32* a_entry) {
  for (irr::u32 i = 0; i < a_files->getFileArchiveCount(); ++i) {
    irr::io::IFileArchive* archive = a_files->getFileArchive(i);
    const irr::io::IFileList* list = archive->getFileList();
    const irr::s32 index = list ? list->findFile(a_name) : -1;
    if (index < 0 || list->isDirectory(static_cast<irr::u32>(index))) continue;
    *a_archive = archive;
    *a_entry = static_cast<irr::u32>(index);
    return true;
  }
  return false;
}

}  // namespace

bool gFileSystem::IsRegularFile(const char* a_path) {
  struct stat info;
  return a_path && stat(a_path, &info) == 0 && S_ISREG(info.st_mode);
}

irr::io::IReadFile* gFileSystem::Open(irr::io::IFileSystem* a_files, const char* a_name) {
  if (!a_files || !a_name || !*a_name) return nullptr;
  irr::io::IFileArchive* archive = nullptr;
  irr::u32 entry = 0;
  if (InArchive(a_files, a_name, &archive, &entry)) return archive->createAndOpenFile(entry);
  const irr::io::path path = a_files->getAbsolutePath(a_name);
  if (!IsRegularFile(path.c_str())) return nullptr;
  return a_files->createAndOpenFile(path);
}

bool gFileSystem::Openable(irr::io::IFileSystem* a_files, const char* a_name) {
  if (!a_files || !a_name || !*a_name) return true;
  irr::io::IFileArchive* archive = nullptr;
  irr::u32 entry = 0;
  if (InArchive(a_files, a_name, &archive, &entry)) return true;
  const irr::io::path path = a_files->getAbsolutePath(a_name);
  struct stat info;
  return stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}
