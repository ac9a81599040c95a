/* The driver's version resource. Included by Vorel_PCI.rc (windres, UTF-8 input) and by the POSIX
   build, which publishes the same values for its shared object. Plain C preprocessor only. */
#ifndef VOREL_VERSION_VALUES_H
#define VOREL_VERSION_VALUES_H

#define VOREL_FILEVERSION_BIN 4, 0, 0, 4
#define VOREL_PRODUCTVERSION_BIN 1, 0, 4, 1
#define VOREL_LANGUAGE 0x0804
#define VOREL_CODEPAGE 936
#define VOREL_STRING_TABLE "080403A8"

#define VOREL_COMPANYNAME ""
#define VOREL_FILEDESCRIPTION "支持VorelPCI-7505板卡"
#define VOREL_FILEVERSION "4.0.0.4"
#define VOREL_INTERNALNAME "Vorel_PCI"
#define VOREL_LEGALCOPYRIGHT ""
#define VOREL_LEGALTRADEMARKS ""
#define VOREL_ORIGINALFILENAME "Vorel_PCI.dll"
#define VOREL_PRODUCTNAME "VorelPCI系列板卡驱动程序(板卡)"
#define VOREL_PRODUCTVERSION "1.0.4.1"
#define VOREL_COMMENTS ""
#define VOREL_DEVICENAME "VorelPCI系列板卡"
#define VOREL_DEVTYPENAME "板卡"
#define VOREL_DEVIDNAME "板卡号"
#define VOREL_CHNNAME "板卡基址"

#endif
