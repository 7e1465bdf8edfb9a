// Resource identifiers of the COM server (tarvion.rc).
#pragma once

#define IDS_TARVION 1                // the control's type name
#define IDS_TARVION_PPG 2            // the property page's name
#define IDS_TARVION_PPG_CAPTION 200  // the property page's caption
#define IDB_TARVION 1                // toolbox bitmap
#define IDD_PROPPAGE_TARVION 200     // the property page's (empty) dialog
#define IDR_TYPELIB 1                // the embedded type library
