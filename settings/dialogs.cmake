# The Setup, Security and Protocol dialogs and their commands.
add_library(settings_ui STATIC
    ProtocolCommand.cpp ProtocolCommand.h
    ProtocolDlg.cpp ProtocolDlg.h ProtocolDlg.ui
    SecurityCommand.cpp SecurityCommand.h
    SecurityDlg.cpp SecurityDlg.h SecurityDlg.ui
    SetupCommand.cpp SetupCommand.h
    SetupDlg.cpp SetupDlg.h SetupDlg.ui
)
target_include_directories(settings_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(settings_ui PUBLIC Qt6::Widgets settings_store engine)
