// Resource ids of the framework tests' dialog.
#pragma once

#define IDD_FW_TEST 200
#define IDC_FW_ACTION 201
#define IDC_FW_LABEL 202
