# A static library hands the linker only the objects some program asks for, so a call
# from one wing into a wing it does not link would go unnoticed as long as the product
# links everything. Here every wing is linked whole into a program of its own with only
# its own links: such a call is an undefined symbol, and the build stops on it.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/wing_links_main.cpp
     CONTENT "int main() { return 0; }\n")
function(vantrel_wing_targets dir out)
    get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
    get_directory_property(subdirs DIRECTORY ${dir} SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        vantrel_wing_targets(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()
vantrel_wing_targets(${CMAKE_CURRENT_SOURCE_DIR} _wings)
foreach(wing IN LISTS _wings)
    get_target_property(kind ${wing} TYPE)
    if(NOT kind STREQUAL "STATIC_LIBRARY")
        continue()
    endif()
    add_executable(${wing}_links ${CMAKE_CURRENT_BINARY_DIR}/wing_links_main.cpp)
    set_target_properties(${wing}_links PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    target_link_libraries(${wing}_links PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${wing}>")
endforeach()
