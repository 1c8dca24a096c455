# The Setup, Security and Protocol commands: run a dialog, hand its result to the engine host.
add_library(ui_commands STATIC
    BootCommand.cpp BootCommand.h
    DeviceTransferCommand.cpp DeviceTransferCommand.h
    DhcpCommand.cpp DhcpCommand.h
    dialogs/DeviceTransferDlg.cpp dialogs/DeviceTransferDlg.h dialogs/DeviceTransferDlg.ui
    dialogs/DhcpDlg.cpp dialogs/DhcpDlg.h dialogs/DhcpDlg.ui
    ProtocolCommand.cpp ProtocolCommand.h
    SecurityCommand.cpp SecurityCommand.h
    SetupCommand.cpp SetupCommand.h
)
target_include_directories(ui_commands PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ui_commands PUBLIC Qt6::Widgets settings_ui engine engine_client)
