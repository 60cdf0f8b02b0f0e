# Every external library comes from Debian's packages. Some ship no CMake package (Irrlicht,
# PLIB) or a broken one (Bullet), so each is wrapped here once as an imported target.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenAL REQUIRED)
# OpenGL::GL, for what is read or drawn outside the 3D engine (the back buffer of a screenshot).
set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL REQUIRED)

find_path(IRRLICHT_INCLUDE_DIR irrlicht.h PATH_SUFFIXES irrlicht REQUIRED)
find_library(IRRLICHT_LIBRARY Irrlicht REQUIRED)
add_library(ombrix::irrlicht INTERFACE IMPORTED)
target_include_directories(ombrix::irrlicht SYSTEM INTERFACE ${IRRLICHT_INCLUDE_DIR})
target_link_libraries(ombrix::irrlicht INTERFACE ${IRRLICHT_LIBRARY})

pkg_check_modules(BULLET REQUIRED IMPORTED_TARGET bullet)
add_library(ombrix::bullet ALIAS PkgConfig::BULLET)

pkg_check_modules(VORBISFILE REQUIRED IMPORTED_TARGET vorbisfile)
add_library(ombrix::vorbisfile ALIAS PkgConfig::VORBISFILE)

# The encoder only makes the shipped packages' sounds and test files.
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)
add_library(ombrix::vorbisenc ALIAS PkgConfig::VORBISENC)

pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
add_library(ombrix::hidapi ALIAS PkgConfig::HIDAPI)

add_library(ombrix::openal INTERFACE IMPORTED)
target_include_directories(ombrix::openal SYSTEM INTERFACE ${OPENAL_INCLUDE_DIR})
target_link_libraries(ombrix::openal INTERFACE ${OPENAL_LIBRARY})

find_library(PLIBNET_LIBRARY plibnet REQUIRED)
find_library(PLIBUL_LIBRARY plibul REQUIRED)
add_library(ombrix::plib INTERFACE IMPORTED)
target_link_libraries(ombrix::plib INTERFACE ${PLIBNET_LIBRARY} ${PLIBUL_LIBRARY})

find_package(BISON 3.0 REQUIRED)
find_package(FLEX REQUIRED)

# The score server's HTTP library, embedded store and PostgreSQL client.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(ombrix::httplib ALIAS PkgConfig::HTTPLIB)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
add_library(ombrix::sqlite3 ALIAS PkgConfig::SQLITE3)
pkg_check_modules(PQXX REQUIRED IMPORTED_TARGET libpqxx)
add_library(ombrix::pqxx ALIAS PkgConfig::PQXX)
