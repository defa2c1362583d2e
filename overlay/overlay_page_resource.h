#pragma once

// The overlay's page, a resource of the module that serves it; shared by the resource script and the server.
#define IDR_OVERLAY_PAGE 301
