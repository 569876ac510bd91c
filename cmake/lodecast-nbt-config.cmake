# find_package(lodecast-nbt): the imported target lodecast::nbt (the shared
# library, its headers and zlib, which nbt/nbt.h includes).
include(CMakeFindDependencyMacro)
find_dependency(ZLIB)
include(${CMAKE_CURRENT_LIST_DIR}/lodecast-nbt-targets.cmake)
