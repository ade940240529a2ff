// Window side of animation playback: DRAW's WIDTH and HEIGHT resize the View 3D
// window so that its drawing area takes that size.
#pragma once

namespace vexa::gui {

// Installs the window resizer of animation playback. Interface thread, at start-up.
void installAnimationPlayer();

} // namespace vexa::gui
