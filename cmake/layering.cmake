# The dependency direction between the folders is part of the design: the keying, scoring and fist
# statistics libraries are plain C++ and must never pull in a toolkit. Fail the configuration if
# anything links them to Qt.
function(dittix_forbid_links target pattern)
    get_target_property(libs ${target} LINK_LIBRARIES)
    get_target_property(ilibs ${target} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS libs ilibs)
        if(lib MATCHES "${pattern}")
            message(FATAL_ERROR "${target} must not link ${lib}")
        endif()
    endforeach()
endfunction()

dittix_forbid_links(dittix_keying "^Qt|SDL|X11")
# Scoring sits below everything: shared by the drills, it links no toolkit and no other folder.
dittix_forbid_links(dittix_scoring "^Qt|SDL|X11|dittix_(keying|persistence|platform|training|display|setup)")
dittix_forbid_links(dittix_fist "^Qt|SDL|X11|dittix_(persistence|platform|setup|training|display)")
dittix_forbid_links(dittix_persistence "^Qt|SDL|X11")
dittix_forbid_links(dittix_analysis_core "^Qt|SDL|X11|dittix_(persistence|platform|setup|training|display)")
# The analysis window reaches the setup and main windows only through the callbacks it is given.
dittix_forbid_links(dittix_analysis "dittix_display|dittix_setup|dittix_training$")
dittix_forbid_links(dittix_platform "dittix_display|dittix_setup")
dittix_forbid_links(dittix_setup "dittix_display")
dittix_forbid_links(dittix_training "dittix_display|dittix_setup")
dittix_forbid_links(dittix_training_core "^Qt|dittix_display")
