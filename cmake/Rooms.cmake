# Each room of src/ is one or more libraries whose headers are included as
# "room/Header.h". A target sees a room's headers only by linking one of its
# libraries: velmora_room_headers() gives the library an include folder that
# holds that one room and nothing else, so an include the links do not allow
# fails to compile (and scripts/check-rooms.sh names it).
function(velmora_room_headers target room)
  set(dir ${PROJECT_BINARY_DIR}/rooms/${room})
  if(NOT EXISTS ${dir}/${room})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${room} ${dir}/${room} SYMBOLIC)
  endif()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
    target_link_libraries(${target} PRIVATE velmora_warnings)
  endif()
endfunction()
