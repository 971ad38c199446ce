#pragma once

// The command and response words that the system's servers exchange in the
// `command_response` text of ASPN2 CommandResponse messages.
//
// A response to a command is either the command's first word followed by one
// of the suffixes Pass, Fail, Ack or Nack, or one of the whole response words
// below it.
namespace Sys {

namespace CommandString {
inline constexpr char SystemModeLive[] = "SYSTEM_MODE_SELECT_LIVE";
inline constexpr char SystemModeSim[] = "SYSTEM_MODE_SELECT_SIMULATION";
inline constexpr char QueryVersioning[] = "QUERY_VERSIONING";
inline constexpr char BitServerPing[] = "BITSERVER_PING";
inline constexpr char BitServerReportClear[] = "BITSERVER_REPORT_CLEAR";
inline constexpr char BitServerReportAppend[] = "BITSERVER_REPORT_APPEND";
inline constexpr char BitServerReportRemove[] = "BITSERVER_REPORT_REMOVE";
inline constexpr char RequestBitReport[] = "REQUEST_BIT_REPORT";
inline constexpr char RequestSystemCBit[] = "REQUEST_CBIT";
inline constexpr char RequestComponentCBit[] = "REQUEST_COMPONENT_CBIT";
inline constexpr char NavigatorCommand[] = "NAVIGATOR_COMMAND";
inline constexpr char NavigatorStatus[] = "NAVIGATOR_STATUS";
inline constexpr char QueryTorvikStatus[] = "QUERY_TORVIK_STATUS";
inline constexpr char TorvikSetStandby[] = "TORVIK_SET_STANDBY";
inline constexpr char TorvikSetContinuous[] = "TORVIK_SET_CONT";
inline constexpr char TorvikCVZeroize[] = "TORVIK_CV_ZEROIZE";
inline constexpr char QueryKeystelStatus[] = "QUERY_KEYSTEL_STATUS";
inline constexpr char SetKeystelStatus[] = "SET_KEYSTEL_STATUS";
inline constexpr char SystemEnvRerad[] = "SYSTEM_ENV_RERAD";
inline constexpr char SystemEnvLive[] = "SYSTEM_ENV_LIVE";
inline constexpr char AltNavAssured[] = "ALTNAV_ASSURED";
inline constexpr char AltNavUnassured[] = "ALTNAV_UNASSURED";
inline constexpr char AltNavNotAvail[] = "ALTNAV_NOT_AVAILABLE";
inline constexpr char InitSincgars[] = "INIT_SINCGARS";
inline constexpr char InitHotStart[] = "INIT_HOTSTART";
inline constexpr char InitWarmStart[] = "INIT_WARMSTART";
inline constexpr char InitDataTransferOutLNav[] = "INIT_DATA_TRANSFER_OUT_LNAV";
inline constexpr char SetHmiBlackoutEnable[] = "SET_BLACKOUT_ENABLED";
inline constexpr char SetHmiBlackoutDisable[] = "SET_BLACKOUT_DISABLED";
inline constexpr char RequestZeroize[] = "REQUEST_ZEROIZE";
inline constexpr char RequestDestroy[] = "REQUEST_DESTROY";
inline constexpr char StartSystemZeroize[] = "START_ZEROIZE";
inline constexpr char StartSystemDestroy[] = "START_DESTROY";
inline constexpr char TorvikZeroize[] = "TORVIK_ZEROIZE";
inline constexpr char TorvikDestroy[] = "TORVIK_DESTROY";
inline constexpr char QueryPassthrough[] = "QUERY_PASSTHROUGH_STATE";
inline constexpr char ServerStarted[] = "SERVER_STARTED";
inline constexpr char ServerStopped[] = "SERVER_STOPPED";
inline constexpr char RequestPartNumbers[] = "REQUEST_PARTNUMBERS";
inline constexpr char RequestTorvikDestroyStatus[] = "TORVIK_DESTROY_STATUS";
inline constexpr char RequestZephonCompatibilityDesignation[] = "GET_ZEPHON_COMPAT_DESIGN";
}  // namespace CommandString

namespace ResponseString {
// Suffixes appended to a command's first word.
inline constexpr char Pass[] = "_PASS";
inline constexpr char Fail[] = "_FAIL";
inline constexpr char Ack[] = "_ACK";
inline constexpr char Nack[] = "_NACK";
// Whole response words.
inline constexpr char ComponentZeroize[] = "COMPONENT_ZEROIZE";
inline constexpr char ComponentDestroy[] = "COMPONENT_DESTROY";
inline constexpr char SystemZeroize[] = "SYSTEM_ZEROIZE";
inline constexpr char SystemDestroy[] = "SYSTEM_DESTROY";
inline constexpr char CbitResponse[] = "CBIT_RESPONSE";
inline constexpr char PassthroughEnabled[] = "PASSTHROUGH_ENABLED";
inline constexpr char PassthroughDisabled[] = "PASSTHROUGH_DISABLED";
inline constexpr char CurrentTorvikStatus[] = "CURRENT_TORVIK_STATUS";
inline constexpr char CurrentKeystelStatus[] = "CURRENT_KEYSTEL_STATUS";
}  // namespace ResponseString

}  // namespace Sys
