# The kit's names as a library to include (Kit.h, MidiMap.h): the forms, the kit's maker and the drum
# player's MIDI kit all read them. A tree that builds the player without the kit includes this file.
add_library(zorvik_kit_names INTERFACE)
target_include_directories(zorvik_kit_names INTERFACE ${CMAKE_CURRENT_LIST_DIR})
