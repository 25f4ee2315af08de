# The kit as a library: its model, the note map and the Hydrogen kit reader (zorvik_drumkit), over the
# default kit's names (zorvik_kit_names, which the kit's maker reads alone). The forms, the drum player
# and the fuzzers use it; a tree that builds the player without the rest of the program includes this file.
add_library(zorvik_kit_names INTERFACE)
target_include_directories(zorvik_kit_names INTERFACE ${CMAKE_CURRENT_LIST_DIR})

find_package(Qt6 6.4 REQUIRED COMPONENTS Core)
find_package(LibArchive REQUIRED)
add_library(zorvik_drumkit STATIC
    ${CMAKE_CURRENT_LIST_DIR}/HydrogenKit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KitFiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NoteMap.cpp
)
target_link_libraries(zorvik_drumkit PUBLIC zorvik_kit_names PRIVATE Qt6::Core LibArchive::LibArchive)
set_target_properties(zorvik_drumkit PROPERTIES AUTOMOC OFF AUTORCC OFF)
