// Fault scenarios of the virtual phone: a text file of "key = value" lines ('#' starts a
// comment, blank lines are ignored) read into a vphone::Scenario.
//
// Every key the phone understands, with its default:
//
//   phone.*    (VirtualPhone)
//     phone.reboot_never = false     after the next mode switch the port never comes back
//     phone.pull_after_bytes = 0     cable pull: the port vanishes once this many request
//                                    bytes were received (0 = never)
//     phone.replug_after_ms = -1     after a cable pull, come back (same mode) after this
//                                    delay; -1 = stay unplugged
//     phone.bad_fcs_answer = 0       the Nth answer frame (1-based, counted over the phone's
//                                    life) goes out with a wrong check sequence
//     phone.silent_answer = 0        the Nth answer (1-based) is not sent at all
//     phone.refuse_cmd = -1          first request byte to refuse (with phone.refuse_bytes)
//     phone.refuse_sub = -1          ... and, when set, its second byte
//     phone.refuse_bytes = 03 00 07  the refusal payload (hex bytes)
//     phone.refuse_count = 1         how many times (-1 = always)
//     phone.silent_cmd = -1          requests with this first byte are never answered
//     phone.answer_latency_us = 0    every answer is written this many microseconds (process
//                                    clock) after it was made, like a USB serial line's
//                                    turnaround; requests are still read meanwhile
//                                    (default: PhoneOptions::answerLatencyUs)
//
//   fault.*    (FaultPlan: one fault armed at a chosen request; details in fault_plan.h)
//     fault.kind = none              pull | silent | bad_fcs | refuse | reboot_never |
//                                    other_model
//     fault.at =                     hex bytes the arming request starts with (none: any)
//     fault.at_mode = any            any | normal | download
//     fault.at_count = 1             the occurrence (1-based) of that request that arms it
//     fault.replug_ms = -1           pull: the port is back after this delay (-1: never)
//     fault.model = TR99             other_model: the model the phone reports after a reboot
//       e.g.  fault.kind = silent + fault.at = 29 01 00: the phone hangs at going off line
//
//   script.*   (ScriptedResponder; tried before everything else, in key order)
//     script.<name> = <prefix hex> -> <action>
//       actions: <hex> [; <hex> ...]   these frames, in one write
//                silent                no answer
//                badfcs <hex>          the frame with a wrong check sequence
//                late <ms> <hex>       the frame after <ms> (process clock)
//                vanish <n> <hex>      the first n bytes of the framed answer, then the
//                                      port is gone for good
//       e.g.  script.slow_model = 00 -> late 2500 00 41 42
//
//   diag.*     (normal mode, DiagResponder)
//     diag.model = TR52              model text of DIAG_VERNO_F (answer offset 39)
//     diag.battery_level = 87        signed byte
//     diag.battery_status = 0        32-bit status of the battery answer (0 = good)
//     diag.nv_ranges = 0 4393 9001 9181   the four NV item range values
//     diag.password_check = true     a wrong security code is answered with 0 (not unlocked)
//
//   dload.*    (download mode, DloadResponder)
//     dload.model = KW_TR52/V10A     emergency model name (DLOAD_VERREQ_F)
//     dload.unlock = accept          accept | refuse (0x03 NAK_BAD_SEC_CODE) | silent
//     dload.comm_mode = 2            answer of the communication-mode request
//     dload.param_flags = 0x02       byte 39 of the parameters answer (bit 1 Dl_Init,
//                                    bit 6 Dl_Init_2nd)
//     dload.param_byte = 1           byte 2 of the parameters answer
//     dload.param_word = 0           bytes 35..38 of the parameters answer
//     dload.ram_region = 67108864    RAM region offered to Dl_Init / Dl_Init_2nd (bytes)
//     dload.init_error = 0           error number of the RAM preparation answers
//     dload.write_error_at = -1      RAM write chunk offset answered with error number 5
//     dload.program_error = 0        NAND error code of Dl_Program (non-zero fails it)
//     dload.bcpl = off               off | on | on_refuse (unlock refused) |
//                                    on_stuck (unlock accepted, lock stays on)
//
//   nand.*     (download mode, NandProgrammer)
//     nand.partition_mismatch = false  the partition table is refused unless sent with the
//                                      override flag (ERR_PARTI_NOMATCH)
//     nand.fail_ram_write = 0        the Nth RAM-write packet (1-based) is refused
//                                    (ERR_WRITE_FAIL); with nand.fail_ram_write_count
//     nand.fail_ram_write_count = 1  consecutive refusals from the Nth packet on
//     nand.fail_program = 0          the Nth program request (1-based) is refused
//     nand.erase_fail = false        the EFS erase is refused (ERR_ERASE_FAIL)
//
//   pipe.*     (download mode, PipelinedWriter)
//     pipe.ack_interval = 5          packets covered by one acknowledgement
//     pipe.lost_at = -1              this packet sequence is reported lost (error 0x30)
//     pipe.write_error_at = -1       this packet sequence gets a write error
//     pipe.write_error = 0x11        error number of that write error
//     pipe.nand_error = 0x0A         NAND error byte of that write error
//
//   nv.*, cnv.*  (phone data: NvStore, CnvResponder; details in nv_store.h)
//     nv.fill = default | none       the usual item population, or an empty store
//     nv.missing = 114 2010          items removed from the population
//     nv.banner = TR52V10A_091117    text of item 71
//     nv.read_status.<item> = n      reads of that item answered with status n
//     nv.read_status_all = -1        every read answered with status n (-1: none)
//     nv.bad_parm = 6 7              items whose reads are refused with 0x14
//     nv.readonly = 0 1              items whose writes are answered with status 7
//     nv.write_status.<item> = n     writes of that item answered with status n
//     nv.silent_read_at = 0          from the n-th read on, reads get no answer
//     nv.spc = 000000                service programming code the phone takes
//     cnv.backup = ok | fail | silent    outcome of the phone's own NV backup
//     cnv.restore = ok | fail | silent   outcome of the phone's own NV restore
//     cnv.saved = false              the phone holds a calibration copy from an earlier backup
//     cnv.work_ms = 200              time before the final CNV answer (process clock)
//
//   efs.*      (phone data: EfsTree; details in efs_tree.h)
//     efs.fill = default | none      the usual folders with a few files, or only the root
//     efs.error.<path> = n           every command on that path answered with error n
//     efs.refuse_rmdir = <path>      that directory cannot be removed (error 13)
//     efs.capacity = 0               bytes of file data the phone holds (0: unlimited); the
//                                    phone's own NV backup (cnv.*) keeps a 640-byte copy
//                                    there and fails when it does not fit
//     efs.query = true               the phone answers the write-chunk query
//     efs.dot_entries = false        listings start with "." and ".."
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vphone/responder.h"

namespace vphone {

// Parses scenario text. Lines without '=' or with an empty key are errors: their 1-based
// numbers and texts go to `errors` (when given) and the line is skipped.
Scenario ParseScenario(const std::string& text, std::vector<std::string>* errors = nullptr);
// Reads a scenario file; false with a message in `error` when it cannot be read or has
// malformed lines.
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);

// Typed look-ups; a missing or malformed value gives the default. Integers accept decimal
// and 0x-hex, booleans true/false/yes/no/on/off/1/0.
std::string ScenarioString(const Scenario& s, const std::string& key, const std::string& def);
int64_t ScenarioInt(const Scenario& s, const std::string& key, int64_t def);
bool ScenarioBool(const Scenario& s, const std::string& key, bool def);
// Hex bytes separated by blanks ("03 00 07"); nullopt when missing or malformed.
std::optional<Bytes> ScenarioBytes(const Scenario& s, const std::string& key);

// Parsing helpers shared with the command line.
std::optional<int64_t> ParseInt(const std::string& text);
std::optional<Bytes> ParseHexBytes(const std::string& text);

}  // namespace vphone
