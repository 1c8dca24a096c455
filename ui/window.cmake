# The main frame, the transfer list and its commands.
add_library(ui_window STATIC
    MainFrame.cpp MainFrame.h MainFrameFilter.cpp MainFrameMenus.cpp MainFrameStatus.cpp
    MainFrameTray.cpp MainFrameDetails.cpp SpeedGraph.cpp SpeedGraph.h
    TransferDetails.cpp TransferDetails.h
    RowDelegate.cpp RowDelegate.h
    TransferFilter.cpp TransferFilter.h
    TransferListModel.cpp TransferListModel.h
    TransferListView.cpp TransferListView.h
    TransferLog.cpp TransferLog.h Utf8Text.h
    WindowTitle.cpp WindowTitle.h
    ZAZO_DizeView.cpp ZAZO_DizeView.h
)
target_include_directories(ui_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ui_window PUBLIC Qt6::Widgets Qt6::Network engine settings_store
                      feedback_sounds)

target_link_libraries(ui_window PUBLIC ui_commands feedback_help ui_splash)

# The firewall's view of our ports, for the status field: Qt Core only.
add_library(ui_firewall STATIC FirewallCheck.cpp FirewallCheck.h)
target_include_directories(ui_firewall PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ui_firewall PUBLIC Qt6::Core engine_firewall)
target_link_libraries(ui_window PUBLIC ui_firewall)
