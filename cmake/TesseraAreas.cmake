# tessera_add_area_folders() — adds every sub-folder of the calling folder that has a
# CMakeLists.txt of its own (tests/<subsystem>, bench/<area>, fuzz/<area>).
function(tessera_add_area_folders)
  file(GLOB areas LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area IN LISTS areas)
    if(IS_DIRECTORY ${area} AND EXISTS ${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
