// Identifiers of the library's dialog resources and of their controls, shared by Dialogs.rc and
// the dialog procedures. Hosts and their documentation know these numbers: never renumber.
#ifndef TARNIX_DIALOGS_RESOURCE_H
#define TARNIX_DIALOGS_RESOURCE_H

#define IDD_TREE_BROWSER 101    /* "Online Family Trees": open or save an online tree */
#define IDD_DOWNLOAD_FILE 102   /* "Download": progress of a web file download */
#define IDD_EXPORT_REQUEST 103  /* "Online Family Tree": preparing a tree for download */
#define IDD_UPLOAD 104          /* "Export": uploading a GEDCOM file as an online tree */
#define IDD_UPDATE_PROMPT 105   /* "Velmora Family Tree Updates" */

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_SITE_LIST 1000
#define IDC_PROGRESS 1001
#define IDC_SOURCE 1002         /* 102, 104: where the file goes or comes from; 103: status */
#define IDC_STATUS 1002
#define IDC_MESSAGE 1003        /* 103: the message; 102: the "Saving:" label */
#define IDC_TIME_LEFT 1004
#define IDC_DESTINATION 1005
#define IDC_RATE 1006
#define IDC_TREE_LIST 1007
#define IDC_TREE_NAME 1008
#define IDC_WORLD_TREE 1009
#define IDC_TERMS 1010
#define IDC_ACCEPT_TERMS 1011

#endif
