# What `cmake --install` puts where: the programs, their manual pages and
# bash completion, the README, and the NBT library as lodecast-nbt (static
# and shared) with its public headers, a pkg-config file and a CMake package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS lodecast lodecast-census lodecast-mkworld nbtdump lodecast-restore
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The library under a name no other NBT library a system may carry uses.
set_target_properties(nbt PROPERTIES OUTPUT_NAME lodecast-nbt)
set_target_properties(nbt_shared PROPERTIES OUTPUT_NAME lodecast-nbt EXPORT_NAME nbt
                                            VERSION ${PROJECT_VERSION} SOVERSION 0)
set(LODECAST_NBT_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/lodecast-nbt)
target_include_directories(nbt_shared INTERFACE $<INSTALL_INTERFACE:${LODECAST_NBT_INCLUDEDIR}>)
install(TARGETS nbt ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS nbt_shared EXPORT lodecast-nbt-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public headers: exactly what nbt/include/nbt/ holds, the folder the
# library exports (scripts/check-library compares the installed list).
file(GLOB LODECAST_NBT_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/nbt/include/nbt/*)
install(FILES ${LODECAST_NBT_PUBLIC_HEADERS} DESTINATION ${LODECAST_NBT_INCLUDEDIR}/nbt)

# pkg-config: written at install time so that it names the prefix the files
# really go to (cmake --install --prefix, or /usr in the package).
# A static link from C needs what the C++ library uses (its runtime) and
# the compressors; zlib comes through Requires.private.
set(LODECAST_NBT_LIBS_PRIVATE "-lstdc++ -lm")
get_target_property(nbt_definitions nbt COMPILE_DEFINITIONS)
if(nbt_definitions MATCHES "LODECAST_HAVE_LIBDEFLATE")
  set(LODECAST_NBT_LIBS_PRIVATE "-ldeflate ${LODECAST_NBT_LIBS_PRIVATE}")
endif()
set(pc_in ${PROJECT_SOURCE_DIR}/cmake/lodecast-nbt.pc.in)
set(pc_out ${PROJECT_BINARY_DIR}/lodecast-nbt.pc)
install(CODE "
  set(PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(PC_INCLUDEDIR \"${LODECAST_NBT_INCLUDEDIR}\")
  set(PC_VERSION \"${PROJECT_VERSION}\")
  set(PC_LIBS_PRIVATE \"${LODECAST_NBT_LIBS_PRIVATE}\")
  configure_file(\"${pc_in}\" \"${pc_out}\" @ONLY)")
install(FILES ${pc_out} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake: find_package(lodecast-nbt) gives the imported target lodecast::nbt.
set(LODECAST_NBT_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/lodecast-nbt)
install(EXPORT lodecast-nbt-targets NAMESPACE lodecast:: DESTINATION ${LODECAST_NBT_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lodecast-nbt-config-version.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/lodecast-nbt-config.cmake
              ${PROJECT_BINARY_DIR}/lodecast-nbt-config-version.cmake
        DESTINATION ${LODECAST_NBT_CMAKEDIR})

# Manual pages, gzipped as Debian keeps them (-n: no name or time inside, so
# the same page gives the same bytes).
set(LODECAST_MAN_PAGES lodecast/lodecast.1 tools/lodecast-census/lodecast-census.1
                       tools/lodecast-mkworld/lodecast-mkworld.1 tools/nbtdump/nbtdump.1
                       tools/lodecast-restore/lodecast-restore.1)
set(man_gz "")
foreach(page ${LODECAST_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  set(gz ${PROJECT_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${page}
                             ${PROJECT_BINARY_DIR}/man/${name}
                     COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${name}
                     DEPENDS ${PROJECT_SOURCE_DIR}/${page} VERBATIM)
  list(APPEND man_gz ${gz})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES lodecast/profiles/default-generation lodecast/profiles/game-1.13-1.16
              lodecast/profiles/game-1.17 lodecast/profiles/game-1.18
              lodecast/profiles/game-1.18-nether lodecast/profiles/copper-for-old-chunks
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lodecast/profiles)

# bash-completion loads a command's completion from a file of its name.
foreach(program lodecast lodecast-census lodecast-mkworld nbtdump lodecast-restore)
  install(FILES scripts/completion/lodecast.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()
