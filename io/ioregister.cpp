#include "io/ioregister.h"

#include "engine/exec/rttable.h"
#include "io/device.h"
#include "io/gpib.h"
#include "io/gpibsup.h"
#include "io/netconn.h"
#include "io/tcpsupp.h"
#include "io/unitaccess.h"
#include "io/visamgr.h"

MgErr QXRTRegisterIO() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(956, NCConnectTo),
      QX_RT_ENTRY(957, NCRead),
      QX_RT_ENTRY(958, NCClose),
      QX_RT_ENTRY(959, NCWrite),
      QX_RT_ENTRY(960, NCStrToIP),
      QX_RT_ENTRY(961, NCCreateListener),
      QX_RT_ENTRY(962, NCAbortListener),
      QX_RT_ENTRY(963, NCIPToStr),
      QX_RT_ENTRY(1090, GetCDReg),
      QX_RT_ENTRY(1447, NCConnect),
      QX_RT_ENTRY(1448, NCWriteTo),
      QX_RT_ENTRY(1449, NCWriteTo),
      QX_RT_ENTRY(1450, NCMTU),
      QX_RT_ENTRY(1483, ParseAddressString),
      QX_RT_ENTRY(1484, ParseMiscString),
      QX_RT_ENTRY(1485, GPIBUnitAccess),
      QX_RT_ENTRY(1486, TradGPIBWrite),
      QX_RT_ENTRY(1487, TradGPIBRead),
      QX_RT_ENTRY(1488, TradGPIBClr),
      QX_RT_ENTRY(1489, TradGPIBTrg),
      QX_RT_ENTRY(1490, TradGPIBWait),
      QX_RT_ENTRY(1491, TradGPIBStatus),
      QX_RT_ENTRY(1492, TradGPIBSPoll),
      QX_RT_ENTRY(1493, TradGPIBMisc),
      QX_RT_ENTRY(1494, TradGPIBInit),
      QX_RT_ENTRY(1495, GPIB4882),
      QX_RT_ENTRY(1496, GPIB4882WaitSRQ),
      QX_RT_ENTRY(1497, MakeAddress),
      QX_RT_ENTRY(1498, SetGPIBTimeout),
      QX_RT_ENTRY(1499, GPIBCloseDevOrUnit),
      QX_RT_ENTRY(1516, VisaOpen),
      QX_RT_ENTRY(1517, VisaFindRsrc),
      QX_RT_ENTRY(1518, VisaFindNext),
      QX_RT_ENTRY(1519, VisaClose),
      QX_RT_ENTRY(1527, OpenShowObj),
      QX_RT_ENTRY(1528, OpenShowObj),
      QX_RT_ENTRY(1562, VisaAccess),
      QX_RT_ENTRY(1588, VGetAllOpenSessions),
      QX_RT_ENTRY(1593, OpenShowObj),
      QX_RT_ENTRY(1597, UnitAccess),
      QX_RT_ENTRY(1598, AllocStdUnitAccessRec),
      QX_RT_ENTRY(1599, DisposeUnitAccessRec),
      QX_RT_ENTRY(1616, VNewSesn),
      QX_RT_ENTRY(1617, VDisposeSesn),
      QX_RT_ENTRY(1618, VCookieToSesn),
      QX_RT_ENTRY(1619, VNewRMSesn),
      QX_RT_ENTRY(1634, TCPWaitListenCover),
      QX_RT_ENTRY(1635, TCPCloseConCover),
      QX_RT_ENTRY(1636, TCPWriteCover),
      QX_RT_ENTRY(1637, TCPOpenConCover),
      QX_RT_ENTRY(1638, TCPReadCover),
      QX_RT_ENTRY(1639, TCPCreateListenCover),
      QX_RT_ENTRY(1640, TCPFinishWait),
      QX_RT_ENTRY(1642, NCStrToIP2),
      QX_RT_ENTRY(1643, NCIPToStr2),
  };
  // Network refnums answer FPIsARefnum's kind 5.
  NCInstallRefnumHook();
  // VISA sessions answer its kinds 6 and 10.
  VisaInstallRefnumHook();
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
