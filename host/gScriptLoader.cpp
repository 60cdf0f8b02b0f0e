#include "host/gScriptLoader.h"

#include <irrlicht.h>

#include <cstdio>

#include "platform/gFileSystem.h"
#include "script/vm/gmMachine.h"

bool gScriptLoader::ReadWholeFile(irr::io::IReadFile* file, std::string& text) {
  const long size = file->getSize();
  // One read of the remainder instead of a call per byte; the result is the same.
  long position = file->getPos();
  char buffer[4096];
  while (position < size) {
    const long want = size - position < static_cast<long>(sizeof(buffer)) ? size - position : static_cast<long>(sizeof(buffer));
    const long got = static_cast<long>(file->read(buffer, static_cast<irr::u32>(want)));
    if (got <= 0) break;
    for (long i = 0; i < got; ++i) {
      if (buffer[i] != '\0') text += buffer[i];
    }
    position += got;
  }
  return true;
}

bool gScriptLoader::Load(gmMachine* machine, const char* name) {
  irr::io::IFileSystem* fileSystem = gFileSystem::Get();
  irr::io::IReadFile* file = fileSystem ? fileSystem->createAndOpenFile(name) : nullptr;
  if (!file) {
    std::printf("Script %s not found!\n", name);
    std::fflush(stdout);
    return false;
  }
  std::string text;
  ReadWholeFile(file, text);
  file->drop();

  // Registered under its file name, so error positions read "levels/one.qv(3) : ...".
  const int errors = machine->RunString(text.c_str(), nullptr, true, name);
  if (errors == 0) {
    std::printf("Loaded script: %s\n", name);
    std::fflush(stdout);
    return true;
  }
  // The log is never cleared, so entries of earlier errors are listed again.
  bool first = true;
  while (const char* entry = machine->GetLog().GetEntry(first)) {
    std::printf("Compilation error in script %s: -%s\n", name, entry);
    std::fflush(stdout);
  }
  return false;
}
