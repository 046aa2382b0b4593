/*
 * Zelbridge.dll: one set of entry points for controllers that speak the ZEL
 * command set, forwarding every call to the controller model's own driver
 * library. Usable from C (C89 and later) and C++.
 */
#ifndef ZELBRIDGE_H
#define ZELBRIDGE_H

/* The version of Zelbridge this header belongs to. */
#define ZELBRIDGE_VERSION_MAJOR 1
#define ZELBRIDGE_VERSION_MINOR 0
#define ZELBRIDGE_VERSION_PATCH 0

#include <stddef.h>

#if defined(_WIN32)
#define ZELBRIDGE_CALL __stdcall
#else
#define ZELBRIDGE_CALL
#endif

/* A value passed through to the driver unchanged: an integer or a pointer,
 * one 32-bit word on 32-bit Windows. */
typedef ptrdiff_t ZelWord;

/*
 * What the words mean. Zelbridge forwards every argument after the index (or,
 * in a family, every argument) to the driver unchanged and hands back the
 * driver's result: the meaning of a word is the driver's, and a driver from
 * another maker may read it differently. A pointer is passed as a word cast
 * from it, as in (ZelWord)"192.168.0.5". The drivers of this project
 * (Loopback.dll, Simulator.dll and the simulated family libraries) read them
 * so, with 0 or more for success and a negative error code for failure:
 *
 *   InterfaceSetupDlg(index, window)    the parent window of the setup dialog;
 *                                       both connect with defaults and ignore it
 *   ConnectRS232(index, port, baud)     serial port number (1 to 255) and baud
 *                                       rate (300 to 115200)
 *   ConnectNIgpib(index, board, device) GPIB board (0 to 15) and the device's
 *                                       primary address (0 to 30)
 *   ConnectTCPIP(index, host, port)     host: const char *, a terminated name or
 *                                       address; port: 1 to 65535
 *   Connect(index, board)               board number (0 to 15); so is the word
 *   ConnectPciBoard(index, board)       of ConnectPciBoard
 *   ConnectUSB(index, description)      const char *: the device ("LOOPBACK";
 *                                       for the simulator, the path of the
 *                                       description file to answer from)
 *   ListUSB(index, buffer, size)        char * and its size in bytes: the
 *                                       devices found are written there; the
 *                                       result is how many there are
 *   EnumerateUSB(index, buffer, size, options)  as ListUSB; the search
 *                                       options are not used by either
 *   TranslateError(index, code, buffer, size)   an error code from GetError,
 *                                       and a char * with its size in bytes
 *                                       that receives the text, always
 *                                       terminated
 *   SetErrorCheck(index, enabled)       nonzero: ZelCommandset returns the
 *                                       code of a command's error; 0: it
 *                                       returns 0 (the simulator keeps the
 *                                       error for GetError, the loopback
 *                                       drops an unknown command)
 *   OpenRS232DaisyChain(index, port, baud, a3, a4, a5)  port and baud as for
 *                                       ConnectRS232; the result is the chain's
 *                                       identifier; a3 to a5 are chain options
 *                                       neither uses
 *   ConnectDaisyChainDevice(index, chain, device)  the chain's identifier and
 *                                       the device on it (1 to 16)
 *   CloseDaisyChain(index, chain)       the chain's identifier
 *   SendNonZELString(index, text)       const char *: text outside the command
 *                                       set, sent as it is
 *   ReceiveNonZELString(index, buffer, size)  char * and its size in bytes
 *   SetQMC, GetQMC, SetQMCA, GetQMCA    stage settings of a real controller,
 *                                       read by its own driver; both fail them
 *
 * The family calls take the same words without an index, and a connection
 * identifier (id) where the generic calls take the index:
 * M318_ConnectRS232(port, baud), M329_TranslateError(code, buffer, size),
 * M317_Connect(board) and so on. GetCurrentBoardId(id) and
 * GetCurrentInterfaceId(id) take a connection identifier and give it back
 * while that connection is open. T5XX_SendString(id, command) takes a
 * connection identifier and a const char * command, and T5XX_ReadLine(id,
 * buffer, size) a char * and its size; the driver functions they call are
 * T5XX_T5XXSendString and T5XX_T5XXReadLine.
 */

/* A needed driver function or driver library is not available. */
#define FUNCTION_NOT_AVAILABLE (-1034)

/*
 * The name to look a function of this header up by at run time
 * (GetProcAddress, dlsym) is the header's name for every function but one:
 * on Windows, 32-bit and 64-bit alike, ConnectPciBoard is exported as
 * "_ConnectPciBoard@8", the name 32-bit applications of old resolve.
 * Linking with the import library needs none of this.
 */
#if defined(_WIN32)
#define ZELBRIDGE_CONNECT_PCI_BOARD_EXPORT "_ConnectPciBoard@8"
#else
#define ZELBRIDGE_CONNECT_PCI_BOARD_EXPORT "ConnectPciBoard"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Generic, index-based API. DefineSystem loads a driver library (from the
 * install folder unless the name holds a path) and returns a system index, or
 * -1 when the library cannot be loaded. The other calls take that index and
 * forward to the driver function named by the prefix and the operation.
 *
 * InterfaceSetupDlg, ConnectRS232, ConnectNIgpib, ConnectTCPIP, Connect and
 * ConnectPciBoard return the index when the driver connected (result 0 or
 * more) and -1 otherwise; ConnectDaisyChainDevice and ConnectUSB return the
 * driver's result. An index that names no system gives -1 for
 * InterfaceSetupDlg, OpenRS232DaisyChain and the connect calls other than
 * ConnectUSB, FUNCTION_NOT_AVAILABLE for GetError, and 0 for the rest. A
 * driver function the library does not export gives -1 for the connect,
 * daisy-chain, ListUSB and EnumerateUSB calls and 0 for the rest, and the
 * next GetError returns FUNCTION_NOT_AVAILABLE once.
 */
int ZELBRIDGE_CALL InterfaceSetupDlg(int index, ZelWord a1);
int ZELBRIDGE_CALL ConnectRS232(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL ConnectNIgpib(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL ConnectTCPIP(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL Connect(int index, ZelWord a1);
int ZELBRIDGE_CALL IsConnected(int index);
void ZELBRIDGE_CALL CloseConnection(int index);
int ZELBRIDGE_CALL GetError(int index);
int ZELBRIDGE_CALL TranslateError(int index, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL SetErrorCheck(int index, ZelWord a1);
int ZELBRIDGE_CALL ZelCommandset(int index, const char *command);
int ZELBRIDGE_CALL ZelGetAnswer(int index, char *answer, int size);
int ZELBRIDGE_CALL ZelGetAnswerSize(int index, int *answerSize);
int ZELBRIDGE_CALL SetQMC(int index, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL GetQMC(int index, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL SetQMCA(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL GetQMCA(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL SendNonZELString(int index, ZelWord a1);
int ZELBRIDGE_CALL ReceiveNonZELString(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL OpenUserStagesEditDialog(int index);
int ZELBRIDGE_CALL OpenQxStagesEditDialog(int index);
int ZELBRIDGE_CALL DefineSystem(const char *libraryName, const char *prefix);
int ZELBRIDGE_CALL ConnectPciBoard(int index, ZelWord a1);
int ZELBRIDGE_CALL ConnectDaisyChainDevice(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL OpenRS232DaisyChain(int index, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4, ZelWord a5);
void ZELBRIDGE_CALL CloseDaisyChain(int index, ZelWord a1);
int ZELBRIDGE_CALL ListUSB(int index, ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL ConnectUSB(int index, ZelWord a1);
int ZELBRIDGE_CALL EnumerateUSB(int index, ZelWord a1, ZelWord a2, ZelWord a3);

/*
 * Controller families. Each family loads its own driver library
 * ("<prefix>ZEL_DLL.DLL") on first use and uses it only when every driver
 * function of the family is present; <prefix>IsDLLAvailable returns 1 then
 * and 0 otherwise, and a missing library is looked for again on every call.
 * When the library cannot be used, the connect, interface-setup and
 * current-identifier calls return -1, GetError returns
 * FUNCTION_NOT_AVAILABLE and every other call returns 0.
 */
int ZELBRIDGE_CALL M317_IsDLLAvailable(void);
int ZELBRIDGE_CALL M317_Connect(ZelWord a1);
int ZELBRIDGE_CALL M317_IsConnected(int id);
void ZELBRIDGE_CALL M317_CloseConnection(int id);
int ZELBRIDGE_CALL M317_GetError(int id);
int ZELBRIDGE_CALL M317_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL M317_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL M317_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL M317_ZelGetAnswerSize(int id, int *answerSize);
int ZELBRIDGE_CALL M317_GetCurrentBoardId(ZelWord a1);
int ZELBRIDGE_CALL M317_SetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_GetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_SetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M317_GetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M317_OpenUserStagesEditDialog(int id);
int ZELBRIDGE_CALL M317_OpenQxStagesEditDialog(int id);

int ZELBRIDGE_CALL M317_VB_IsDLLAvailable(void);
int ZELBRIDGE_CALL M317_VB_Connect(ZelWord a1);
int ZELBRIDGE_CALL M317_VB_IsConnected(int id);
void ZELBRIDGE_CALL M317_VB_CloseConnection(int id);
int ZELBRIDGE_CALL M317_VB_GetError(int id);
int ZELBRIDGE_CALL M317_VB_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_VB_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL M317_VB_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL M317_VB_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL M317_VB_ZelGetAnswerSize(int id, int *answerSize);
int ZELBRIDGE_CALL M317_VB_GetCurrentBoardId(ZelWord a1);
int ZELBRIDGE_CALL M317_VB_SetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_VB_GetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M317_VB_SetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M317_VB_GetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M317_VB_OpenUserStagesEditDialog(int id);
int ZELBRIDGE_CALL M317_VB_OpenQxStagesEditDialog(int id);

int ZELBRIDGE_CALL M318_IsDLLAvailable(void);
int ZELBRIDGE_CALL M318_InterfaceSetupDlg(ZelWord a1);
int ZELBRIDGE_CALL M318_ConnectRS232(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL M318_ConnectNIgpib(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL M318_IsConnected(int id);
void ZELBRIDGE_CALL M318_CloseConnection(int id);
int ZELBRIDGE_CALL M318_GetError(int id);
int ZELBRIDGE_CALL M318_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M318_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL M318_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL M318_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL M318_ZelGetAnswerSize(int id, int *answerSize);

int ZELBRIDGE_CALL M329_IsDLLAvailable(void);
int ZELBRIDGE_CALL M329_ConnectRS232(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL M329_IsConnected(int id);
void ZELBRIDGE_CALL M329_CloseConnection(int id);
int ZELBRIDGE_CALL M329_GetError(int id);
int ZELBRIDGE_CALL M329_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M329_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL M329_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL M329_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL M329_ZelGetAnswerSize(int id, int *answerSize);
int ZELBRIDGE_CALL M329_GetCurrentInterfaceId(ZelWord a1);
int ZELBRIDGE_CALL M329_SetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M329_GetQMC(int id, ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL M329_SetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M329_GetQMCA(int id, ZelWord a1, ZelWord a2, ZelWord a3, ZelWord a4);
int ZELBRIDGE_CALL M329_OpenUserStagesEditDialog(int id);
int ZELBRIDGE_CALL M329_OpenQxStagesEditDialog(int id);

int ZELBRIDGE_CALL T520_IsDLLAvailable(void);
int ZELBRIDGE_CALL T520_InterfaceSetupDlg(ZelWord a1);
int ZELBRIDGE_CALL T520_ConnectRS232(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL T520_ConnectNIgpib(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL T520_IsConnected(int id);
void ZELBRIDGE_CALL T520_CloseConnection(int id);
int ZELBRIDGE_CALL T520_GetError(int id);
int ZELBRIDGE_CALL T520_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL T520_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL T520_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL T520_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL T520_ZelGetAnswerSize(int id, int *answerSize);

int ZELBRIDGE_CALL T5XX_IsDLLAvailable(void);
int ZELBRIDGE_CALL T5XX_InterfaceSetupDlg(ZelWord a1);
int ZELBRIDGE_CALL T5XX_ConnectRS232(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL T5XX_ConnectNIgpib(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL T5XX_ConnectPciBoard(ZelWord a1);
int ZELBRIDGE_CALL T5XX_IsConnected(int id);
void ZELBRIDGE_CALL T5XX_CloseConnection(int id);
int ZELBRIDGE_CALL T5XX_GetError(int id);
int ZELBRIDGE_CALL T5XX_TranslateError(ZelWord a1, ZelWord a2, ZelWord a3);
int ZELBRIDGE_CALL T5XX_SetErrorCheck(int id, ZelWord a1);
int ZELBRIDGE_CALL T5XX_ZelCommandset(int id, const char *command);
int ZELBRIDGE_CALL T5XX_ZelGetAnswer(int id, char *answer, int size);
int ZELBRIDGE_CALL T5XX_ZelGetAnswerSize(int id, int *answerSize);
int ZELBRIDGE_CALL T5XX_SendString(ZelWord a1, ZelWord a2);
int ZELBRIDGE_CALL T5XX_ReadLine(int id, ZelWord a1, ZelWord a2);

/*
 * 3D graph, forwarded to "wxQXGraph3D.dll". When that library is missing or
 * lacks any of these functions, QXGraph3DCreate returns -1 and the others 0.
 */
int ZELBRIDGE_CALL QXGraph3DCreate(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DPlotZELArray(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DResetPointOfView(ZelWord w1);
int ZELBRIDGE_CALL QXGraph3DClearData(ZelWord w1);
int ZELBRIDGE_CALL QXGraph3DClose(ZelWord w1);
int ZELBRIDGE_CALL QXGraph3DShow(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DInitGridData(ZelWord w1, double d1, double d2, ZelWord w2, double d3, double d4, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DAddDataPoint(ZelWord w1, ZelWord w2, ZelWord w3, double d1);
int ZELBRIDGE_CALL QXGraph3DGetAutoRange(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetAutoRange(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DGetRange(ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4);
int ZELBRIDGE_CALL QXGraph3DSetRange(ZelWord w1, ZelWord w2, double d1, double d2);
int ZELBRIDGE_CALL QXGraph3DSetDrawXYGrid(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetDrawXZGrid(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetDrawYZGrid(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetDrawTicks(ZelWord w1, ZelWord w2, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DSetDrawLabel(ZelWord w1, ZelWord w2, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DSetShowWires(ZelWord w1, ZelWord w2, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DSetShowSurfaces(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetProjection(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetBackgroundColour(ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4);
int ZELBRIDGE_CALL QXGraph3DGetBackgroundColour(ZelWord w1, ZelWord w2, ZelWord w3, ZelWord w4);
int ZELBRIDGE_CALL QXGraph3DSetDrawXYProjection(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetDrawXZProjection(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSetDrawYZProjection(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DCopyToClipboard(ZelWord w1);
int ZELBRIDGE_CALL QXGraph3DSelectColourMap(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DSaveToImageFile(ZelWord w1, ZelWord w2, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DSetTickDigits(ZelWord w1, ZelWord w2, ZelWord w3);
int ZELBRIDGE_CALL QXGraph3DSetFontSize(ZelWord w1, ZelWord w2);
int ZELBRIDGE_CALL QXGraph3DGetFontSize(ZelWord w1, ZelWord w2);

#ifdef __cplusplus
}
#endif

#endif /* ZELBRIDGE_H */
