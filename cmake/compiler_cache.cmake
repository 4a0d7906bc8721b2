# Compiles through ccache where the machine has it (scripts/setup installs it),
# so that a second clean clone, or a second worktree, rebuilds from the cache.
# Paths are hashed relative to the source folder and the build folder's name is
# left out of the hash, so clones and worktrees in other folders share entries.
# NVK_CCACHE=OFF builds without it.
option(NVK_CCACHE "Compile through ccache when it is installed" ON)
if(NVK_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(NVK_CCACHE_PROGRAM ccache)
  if(NVK_CCACHE_PROGRAM)
    set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=true
      ${NVK_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
  endif()
endif()
