#ifndef GMRESOURCEHANDLE_H
#define GMRESOURCEHANDLE_H

// Base of the resource classes scripts hold as opaque handles (meshes, textures, on-screen
// texts, sounds). None of them is a registered script type, so all four share script type
// GM_UNKNOWN_TYPE (7) and scoring cannot tell them apart; the kind each one carries lets the
// proxies refuse a handle of the wrong kind instead of handing it to a native as the wrong
// class. A resource class derives from this base and declares its kind:
//
//   class graTexture : public gmResourceHandle {
//    public:
//     static constexpr int kHandleKind = GM_HANDLE_TEXTURE;
//     graTexture() : gmResourceHandle(kHandleKind) {}
//   };

enum gmHandleKind {
  GM_HANDLE_MESH = 1,
  GM_HANDLE_TEXTURE = 2,
  GM_HANDLE_TEXT = 3,
  GM_HANDLE_SOUND = 4,
};

// "mesh", "texture", "text", "sound", or "unknown".
const char* gmHandleKindName(int a_kind);

class gmResourceHandle {
 public:
  explicit gmResourceHandle(int a_kind) : handleKind(a_kind) {}
  virtual ~gmResourceHandle() = default;
  const int handleKind;
};

#endif
