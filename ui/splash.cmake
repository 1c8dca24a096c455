# The splash screen shown while the window starts.
add_library(ui_splash STATIC SplashWindow.cpp SplashWindow.h)
target_include_directories(ui_splash PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ui_splash PUBLIC Qt6::Widgets PRIVATE dialog_pictures)
