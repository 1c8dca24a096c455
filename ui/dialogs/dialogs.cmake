# The Setup, Security, Protocol and Boot dialogs: they read and write the store, nothing above it.
add_library(settings_ui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/BootDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/BootDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ComboAccessible.cpp ${CMAKE_CURRENT_LIST_DIR}/ComboAccessible.h
    ${CMAKE_CURRENT_LIST_DIR}/ProtocolDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/ProtocolDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/ProtocolDlg.ui
    ${CMAKE_CURRENT_LIST_DIR}/SecurityDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/SecurityDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/SecurityDlg.ui
    ${CMAKE_CURRENT_LIST_DIR}/SetupDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/SetupDlg.ui
)
target_include_directories(settings_ui PUBLIC ${PROJECT_SOURCE_DIR})
# The Boot dialog checks the Secure Boot chain as the boot offers do (engine/boot).
target_link_libraries(settings_ui PUBLIC Qt6::Widgets Qt6::Network settings_store engine)
