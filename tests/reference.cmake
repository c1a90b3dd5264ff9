# The reader's line stages one by one, and its operations composed: the references the
# reader is held to by its tests and its fuzzer.
if(NOT TARGET orvelle_reference)
  set(reference_dir ${CMAKE_CURRENT_LIST_DIR}/orvelle/core/netweave)
  add_library(orvelle_reference STATIC ${reference_dir}/reference_lines.cpp
                                       ${reference_dir}/reference_reader.cpp)
  target_include_directories(orvelle_reference PUBLIC ${reference_dir})
  target_link_libraries(orvelle_reference PUBLIC orvelle_netweave PRIVATE sax orvelle_warnings)
endif()
