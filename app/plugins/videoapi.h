// Video stream and video file callbacks.
#pragma once
