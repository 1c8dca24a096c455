# The pictures of the splash screen, the help sheet and the About box, in a library of
# their own so that the splash (ui/) and the help (here) share one copy.
add_library(dialog_pictures STATIC
    DialogPictures.cpp DialogPictures.h
    ${PROJECT_SOURCE_DIR}/res/dialogs.qrc
)
set_target_properties(dialog_pictures PROPERTIES AUTORCC ON)
target_include_directories(dialog_pictures PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dialog_pictures PUBLIC Qt6::Core)

# The help sheet and the About box.
add_library(feedback_help STATIC
    AboutBoxDlg.cpp AboutBoxDlg.h AboutBoxDlg.ui
    HelpSheetDlg.cpp HelpSheetDlg.h HelpSheetDlg.ui
    PageBoot.ui PageClear.ui PageDhcp.ui PageGeneral.ui PageProtocol.ui PageSecurity.ui
    PageSetup.ui PageRunning.ui
)
target_include_directories(feedback_help PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(feedback_help PUBLIC Qt6::Widgets engine PRIVATE dialog_pictures)
