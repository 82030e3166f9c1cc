#pragma once

namespace stview {

/**
 * @brief Whether a window can be created without taking the process down.
 *
 * OpenCV's windows here are Qt-based, and Qt aborts the whole process when it
 * cannot reach its display. A platform chosen through QT_QPA_PLATFORM (such as
 * "offscreen") counts as reachable; otherwise the X server named by DISPLAY
 * must accept a connection, tried the way Qt's default platform does.
 */
bool displayReachable();

}  // namespace stview
