# The window's sounds, pictures and clip, compiled into the program.
qt_add_resources(VANTREL_WINDOW_RCC ${CMAKE_SOURCE_DIR}/res/window.qrc)
add_library(window_res STATIC WindowResources.cpp WindowResources.h ${VANTREL_WINDOW_RCC})
target_include_directories(window_res PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(window_res PUBLIC Qt6::Core)

# Event sounds and the transfer animation.
add_library(feedback_sounds STATIC
    WaveSound.cpp WaveSound.h
    TransferAnimDlg.cpp TransferAnimDlg.h
)
target_include_directories(feedback_sounds PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(feedback_sounds PUBLIC Qt6::Widgets Qt6::Multimedia window_res)
