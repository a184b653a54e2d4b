#include "surface_dialog.h"

BEGIN_MESSAGE_MAP(CSurfaceDlg, CLayeredDialog)
ON_MESSAGE(WM_ENTERSIZEMOVE, &CSurfaceDlg::OnEnterSizeMove)
ON_BN_CLICKED(IDC_TEST_BUTTON1, &CSurfaceDlg::OnButton1Clicked)
END_MESSAGE_MAP()
