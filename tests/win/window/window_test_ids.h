// Resource ids of the window tests' own art and dialog (clear of the product's).
#pragma once

#define IDB_TEST_NORMAL 2001       // 40 x 20, opaque 0xC86432
#define IDB_TEST_PRESSED 2002      // 40 x 20, opaque green
#define IDB_TEST_HOVER 2003        // 40 x 20, opaque blue
#define IDB_TEST_DISABLED 2004     // 40 x 20, opaque yellow
#define IDB_TEST_BACKGROUND 2005   // 120 x 90, opaque 0x204060 with a transparent 8 x 8 top-left corner
#define IDB_TEST_MAGENTA 2006      // 20 x 20, opaque magenta
#define IDB_TEST_WHITE 2007        // 64 x 48, opaque white
#define IDB_TEST_TRANSLUCENT 2008  // 20 x 20, red at alpha 128

#define IDD_TEST_SURFACE 300
#define IDC_TEST_BUTTON1 301
#define IDC_TEST_BUTTON2 302
#define IDC_TEST_LABEL1 303
#define IDC_TEST_LABEL2 304
#define IDC_TEST_HIDDEN 305
#define IDC_TEST_DISABLED 306
