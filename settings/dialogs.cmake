# The Setup, Security and Protocol dialogs: they read and write the store, nothing above it.
add_library(settings_ui STATIC
    BootDlg.cpp BootDlg.h
    ProtocolDlg.cpp ProtocolDlg.h ProtocolDlg.ui
    SecurityDlg.cpp SecurityDlg.h SecurityDlg.ui
    SetupDlg.cpp SetupDlg.h SetupDlg.ui
)
target_include_directories(settings_ui PUBLIC ${PROJECT_SOURCE_DIR})
# The Boot dialog checks the Secure Boot chain as the boot offers do (engine/boot).
target_link_libraries(settings_ui PUBLIC Qt6::Widgets Qt6::Network settings_store engine)
