// Resource identifiers of Tarnet.ocx.
#pragma once

#define IDS_TARNET 1                // type name of the control
#define IDS_TARNET_PPG 2            // type name of the property page
#define IDS_TARNET_PPG_CAPTION 200  // caption of the property page
#define IDB_TARNET 1                // toolbox bitmap
#define IDI_ABOUTDLL 1              // the control's icon
#define IDD_ABOUTBOX_TARNET 100
#define IDD_PROPPAGE_TARNET 200
#define IDC_ABOUT_TEXT 1001
#define IDC_PAGE_TEXT 1002
