"""End-to-end runs of the built driver: bytes on the wire, log text, where files go."""

import os
import re
import shutil
import signal
import subprocess
import time
import unittest

from tests.harness import DRIVER, WINE, DriverTest, ITEM, ITEM_KEYS_NEW, ITEM_KEYS_OLD, Rig, description_keys


def printed(rig, name):
    return ["-> Inceput tiparire: " + rig.spool + name,
            "-> Sfirsit tiparire: %s%s; Mutare in directorul %s" % (rig.spool, name, rig.ok)]


class Printing(DriverTest):
    def test_receipts_in_both_firmware_modes(self):
        cases = [("5.07", ITEM_KEYS_NEW, "05 0A 0D 0A 0A 31"), ("5.06", ITEM_KEYS_OLD, "05 0A 0A 0A 31")]
        for firmware, item_keys, total_keys in cases:
            with self.subTest(firmware=firmware):
                rig = self.rig(simulator_args=["--firmware", firmware])
                rig.start()
                rig.drop("bon1.txt", "  " + ITEM + "  ", "", "<5000")
                rig.wait_log("Sfirsit tiparire")
                self.assertEqual(rig.commands(), ["T", "S"] + item_keys + [total_keys])
                self.assertEqual(rig.job_log(), printed(rig, "bon1.txt"))
                self.assertEqual(rig.where("bon1.txt"), "ok")
                self.assertTrue(rig.acks_follow_replies())
                self.assertEqual(rig.stop(), 0)
                self.assertEqual(rig.log()[-2:], [rig.log()[-2], ""])
                self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "))

    def test_currency_credit_and_two_files(self):
        rig = self.rig()
        rig.start()
        rig.drop("a.txt", "-", "2 0010000 USD", "")
        rig.wait(lambda: rig.where("a.txt") is None, "the currency file to go")
        rig.drop("b.txt", ITEM, "?", ITEM)
        rig.drop("c.txt", "+", "=Multumim")
        rig.wait_log("Sfirsit tiparire", 2)
        cmds = rig.commands()
        self.assertEqual(cmds[:8], ["T", "S", "12", "08 45 31", "02 31 01 31", "01 0A 0A 0D 0A 0A 31",
                                    "02 31", "13 03 55 53 44 31 32 32 32"])
        rest = cmds[8:]
        credit = ["T", "S"] + ITEM_KEYS_NEW + ["32"]
        text = ["T", "S", "45", "13 0A 03 02 4D 75 6C 74 75 6D 65 73 63 38".replace("65 73 63", "69 6D")]
        self.assertIn(rest, (credit + text, text + credit))
        self.assertEqual(rig.job_log()[0], "-> Programare Valute: ")
        self.assertEqual({rig.where(n) for n in ("b.txt", "c.txt")}, {"ok"})

    def test_names_beyond_the_code_page(self):
        """Receipts and a spool directory named with letters that no ANSI code
        page has (comma-below s and t) print and are filed."""
        rig = self.rig()
        rig.spool = os.path.join(rig.root, "CASA \u0218TEFAN") + "/"
        os.mkdir(rig.spool)
        rig.write_ini({"COM": rig.device, "BONDIR": rig.spool, "OKDIR": rig.ok, "ERRDIR": rig.err})
        rig.start()
        names = ["BON \u0103.TXT", "BON \u0219.TXT", "BON \u0103\u00ee\u0219\u021b.TXT", "BON \u00ee.TXT"]
        for name in names:
            rig.drop(name, "<")
        rig.wait(lambda: all(rig.where(n) == "ok" for n in names), "the receipts to be filed")
        # The line of the last one follows its move.
        rig.wait_log("-> Sfirsit tiparire", 4)
        self.assertEqual(len([l for l in rig.log() if l.startswith("-> Sfirsit tiparire")]), 4)

    def test_status_checks_before_the_receipt(self):
        cases = [  # simulator state, commands between the status query and the receipt
            (["status 00", "byte6 1"], []),
            (["status 00", "byte6 0"], ["0F"]),
            (["status 08", "second 0"], ["00", "0F"]),
            (["status 0C", "second 12"], ["00", "0F", "00", "3A", "31"]),
        ]
        rig = self.rig()
        rig.start()
        for i, (state, before) in enumerate(cases):
            with self.subTest(state=state):
                rig.simulate(*state)
                start = len(rig.commands())
                rig.drop("s%d.txt" % i, "<")
                rig.wait(lambda: rig.where("s%d.txt" % i) == "ok", "the receipt")
                self.assertEqual(rig.commands()[start:], ["T", "S"] + before + ["31"])

    def test_a_file_written_in_pieces_is_taken_whole(self):
        """A receipt written in place in several opens and closes, each well
        under 100 ms after the one before, is printed whole: with the spool
        watched, and with the 100 ms looks of a system without change
        notification (the test switch), which the log names once."""
        fallback = "NU POATE FI SUPRAVEGHEAT (supraveghere oprita pentru teste)"
        for watched in (True, False):
            with self.subTest(watched=watched):
                rig = self.rig()
                rig.start(env={} if watched else {"OVIXNOVA_TEST_NO_WATCH": "1"})
                for piece in [ITEM] * 5 + ["<"]:
                    with open(os.path.join(rig.spool, "w.txt"), "a", newline="") as f:
                        f.write(piece + "\r\n")
                    time.sleep(0.02)
                rig.wait(lambda: rig.where("w.txt") == "ok", "the receipt filed")
                time.sleep(0.3)  # a receipt taken half-way would leave a second job
                self.assertEqual(rig.commands(), ["T", "S"] + ITEM_KEYS_NEW * 5 + ["31"])
                self.assertEqual(sum(fallback in line for line in rig.log()), 0 if watched else 1)


    def test_a_writer_that_keeps_its_file_open(self):
        """A point-of-sale program that renames its file into the spool while
        it still has it open and writes it out at close: the receipt is taken
        only once the writer is done, watched or not."""
        for watched in (True, False):
            with self.subTest(watched=watched):
                rig = self.rig()
                rig.start(env={} if watched else {"OVIXNOVA_TEST_NO_WATCH": "1"})
                rig.drop_while_writing("w.txt", ITEM, "<")
                rig.wait(lambda: rig.where("w.txt") == "ok", "the receipt filed")
                self.assertEqual(rig.commands(), ["T", "S"] + ITEM_KEYS_NEW + ["31"])


class Failures(DriverTest):
    def test_silent_register_then_ok_then_cancel(self):
        rig = self.rig(simulator_args=["--silent"])
        rig.start()
        rig.drop("a.txt", "<")
        rig.wait_log("LIPSA HIRTIE")
        rig.simulate("silent off")
        rig.operate("ok")
        rig.wait(lambda: rig.where("a.txt") == "ok", "the receipt after OK")
        self.assertEqual(rig.job_log()[:2], ["-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!",
                                             "\t-> RE-INCERCARE..."])
        self.assertEqual(rig.commands(), ["T", "T", "S", "31"])
        rig.simulate("silent on")
        rig.drop("b.txt", "<")
        rig.wait_log("LIPSA HIRTIE", 2)
        rig.operate("cancel")
        self.assertEqual(rig.wait_exit(), 0)
        self.assertEqual(rig.where("b.txt"), "spool")
        # Cancel ends the driver in order: the stop line closes the log.
        self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "), rig.log()[-3:])

    def test_error_dialog_outcomes(self):
        item_then_total = ITEM_KEYS_NEW + ["31"]
        cases = [  # operator's answer, log lines it adds, next tick's commands, place of the file
            ("retry", ["\t-> RE-INCEARCA..."],
             ["T", "S", "00", "0F", "00", "3A", "31"] + item_then_total, "ok"),
            ("cancel-receipt", ["\t-> ANULARE BON..."], ["T", "S", "00", "0F"], "err"),
            ("give-up", ["\t-> RENUNTARE...", "-> EROARE !! MUTARE {job} IN DIRECTORUL {err}"], [], "err"),
            ("close", [], ["T", "S"] + item_then_total, "ok"),
        ]
        for answer, dialog_log, next_tick, place in cases:
            with self.subTest(answer=answer):
                rig = self.failed_receipt("a.txt")
                self.assertEqual(rig.commands(), ["T", "S"] + ITEM_KEYS_NEW[:3])
                rig.operate(answer)
                if answer == "give-up":
                    rig.wait(lambda: rig.where("a.txt") == "err", "the file to be given up")
                    time.sleep(0.5)
                else:
                    rig.wait(lambda: len(rig.commands()) >= 5 + len(next_tick), "the next tick")
                    rig.wait(lambda: rig.where("a.txt") == place, "the file in " + place)
                job = rig.spool + "a.txt"
                expected = ["-> Inceput tiparire: " + job, "-> EROARE LA TIPARIRE BON %s !!!" % job]
                expected += [l.format(job=job, err=rig.err) for l in dialog_log]
                self.assertEqual(rig.job_log()[:len(expected)], expected)
                self.assertEqual(rig.commands()[5:], next_tick)
                if answer == "cancel-receipt":
                    self.assertEqual(rig.job_log()[-1], "-> EROARE !!  FISIERUL%s ANULAT SI MUTAT IN DIRECTORUL%s"
                                     % (job, rig.err))

    def test_a_failed_line_is_never_followed_by_the_payment(self):
        """A discount the register refuses, or a subtotal it leaves unanswered:
        the total is not sent, and whatever the operator answers the paper
        shows the receipt paid once at most."""
        faults = [("fail-keys 05 0D 0A 0A 21 status 08", "#500"), ("mute-nth 5", "+")]
        answers = [("retry", "ok", 1), ("cancel-receipt", "err", 0), ("give-up", "err", 0)]
        for fault, line in faults:
            for answer, place, paid in answers:
                with self.subTest(line=line, answer=answer):
                    rig = self.rig()
                    rig.start()
                    rig.simulate(fault)
                    rig.drop("a.txt", ITEM, line, "<")
                    rig.wait_log("EROARE LA TIPARIRE BON")
                    self.assertNotIn("31", rig.commands())
                    rig.simulate("clear")
                    rig.operate(answer)
                    rig.wait(lambda: rig.where("a.txt") == place, "the file in " + place)
                    time.sleep(0.3)  # nothing more is sent for it
                    self.assertEqual(rig.paid_receipts(), paid)

    def test_a_decision_lands_on_the_failed_receipt(self):
        """Two receipts wait; the one taken first fails. Whatever the operator
        answers, the next tick acts on that same receipt, or, when it has left
        the spool meanwhile, still voids it on the register and files no other
        receipt under the decision."""
        retry = ["T", "S", "00", "0F", "00", "3A", "31"]
        cases = [  # fault, operator's answer, file removed first, next tick's commands, its place
            ("fail-keys 0A 0A 02 status 08", "retry", False, retry + ITEM_KEYS_NEW + ["{tail}"], "ok"),
            ("fail-keys 0A 0A 02 status 08", "cancel-receipt", False, ["T", "S", "00", "0F"], "err"),
            ("silent on", "ok", False, ["T", "S"] + ITEM_KEYS_NEW + ["{tail}"], "ok"),
            ("fail-keys 0A 0A 02 status 08", "retry", True, retry, None),
            ("fail-keys 0A 0A 02 status 08", "cancel-receipt", True, ["T", "S", "00", "0F"], None),
        ]
        tails = {"a.txt": "31", "b.txt": "45"}
        for fault, answer, removed, next_tick, place in cases:
            with self.subTest(answer=answer, removed=removed):
                rig = self.rig()
                rig.drop("a.txt", ITEM, "<")
                rig.drop("b.txt", ITEM, "+")
                rig.start()
                rig.simulate(fault)
                rig.wait_log("EROARE LA TIPARIRE BON" if answer != "ok" else "LIPSA HIRTIE")
                # Both were there from the start: the first one listed was taken.
                first, other = [n for n in rig.listing() if n in tails]
                rig.simulate("silent off", "clear")
                if removed:
                    os.remove(os.path.join(rig.spool, first))
                sent = len(rig.commands())
                rig.operate(answer)
                rig.wait(lambda: rig.where(other) == "ok", "the other receipt printed")
                expected = [c.format(tail=tails[first]) for c in next_tick]
                self.assertEqual(rig.commands()[sent:sent + len(expected)], expected)
                self.assertEqual(rig.where(first), place)
                self.assertEqual(rig.commands()[sent + len(expected):sent + len(expected) + 2], ["T", "S"])
                log = "\n".join(rig.job_log())
                self.assertNotIn(rig.spool + other + " ANULAT", log)
                if removed:
                    self.assertIn("FISIERUL %s%s NU MAI EXISTA; BONUL NETERMINAT A FOST ANULAT PE CASA"
                                  % (rig.spool, first), log)
                filed = os.listdir(rig.err) if os.path.isdir(rig.err) else []
                self.assertEqual(filed, [first] if place == "err" else [])

    def test_a_new_file_under_an_old_name_is_a_new_receipt(self):
        """"Anuleaza bon" that the silent register kept from being carried
        out, the file removed and the next sale written under the same name:
        after OK in the no-answer box, or after a restart, the old receipt is
        voided on the register and the new one printed, not filed as cancelled."""
        for after in ("ok", "restart"):
            with self.subTest(after=after):
                rig = self.failed_receipt("BON.TXT")
                rig.simulate("clear", "silent on")
                rig.operate("cancel-receipt")
                rig.wait_log("LIPSA HIRTIE")
                os.remove(os.path.join(rig.spool, "BON.TXT"))
                rig.drop("BON.TXT", "+", "<")
                sent = len(rig.commands())
                if after == "restart":
                    self.assertEqual(rig.stop(), 0)
                    rig.simulate("silent off")
                    rig.start()
                else:
                    rig.simulate("silent off")
                    rig.operate("ok")
                rig.wait(lambda: rig.where("BON.TXT") == "ok", "the new receipt printed")
                self.assertEqual(rig.commands()[sent:], ["T", "S", "00", "0F", "T", "S", "45", "31"])
                self.assertFalse(os.path.exists(os.path.join(rig.err, "BON.TXT")))

    def test_a_payment_in_doubt_is_the_operators_to_judge(self):
        """The total's command gets no reply, or the driver is killed while the
        register is still printing the receipt it closes: the receipt is never
        printed again nor filed without the operator's answer, and each answer
        does what it says."""
        receipt = ["T", "S"] + ITEM_KEYS_NEW + ["31"]
        again = ["T", "S", "00", "0F", "00", "3A", "31"] + ITEM_KEYS_NEW + ["31"]
        cases = [  # fault, killed while the reply is awaited, answer, commands sent
            ("mute-nth 5", False, "yes", receipt),
            ("mute-nth 5", False, "no", receipt + again),
            ("late-nth 5 3000", True, "yes", receipt),
            ("late-nth 5 3000", True, "no", receipt + again),
        ]
        question = "-> PLATA NECONFIRMATA: BONUL {} A IESIT COMPLET DIN CASA DE MARCAT ??"
        for fault, killed, answer, sent in cases:
            with self.subTest(fault=fault, answer=answer):
                rig = self.rig()
                rig.start()
                rig.simulate(fault)
                rig.drop("a.txt", ITEM, "<")
                if killed:
                    rig.wait(lambda: rig.commands()[-1:] == ["31"], "the total sent")
                    rig.driver.kill()
                    rig.driver.wait()
                    time.sleep(3.5)  # the register has printed and cut the receipt
                    rig.start()
                rig.wait_log("PLATA NECONFIRMATA")
                self.assertEqual(rig.where("a.txt"), "spool")
                rig.operate(answer)
                rig.wait(lambda: rig.where("a.txt") == "ok", "the receipt filed")
                self.assertEqual(rig.commands(), sent)
                log = rig.job_log()
                at = log.index(question.format(rig.spool + "a.txt"))
                self.assertEqual(log[at + 1], "\t-> DA: BONUL A IESIT COMPLET" if answer == "yes"
                                 else "\t-> NU: BONUL SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU")

    def test_a_wire_trace_replays_the_failure(self):
        """With TRACE=1 every exchange goes into TRACE.OVX beside the log; the
        simulator replaying that trace makes the same receipt fail the same
        way, with the same bytes on the wire."""
        line = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ((TX|RX|STRAY)( [0-9A-F]{2})+|ACK"
                          r"|WAIT (REPLY|NOREPLY|REFUSED|RELEASED) [59]s( [0-9A-F]{2})?)$")
        cases = [  # fault, operator's answer, the failed wait in the trace
            ("fail-keys 0A 0A 02 status 08", "give-up", "WAIT REFUSED 5s 08"),
            ("mute-nth 3", "cancel-receipt", "WAIT NOREPLY 5s"),
        ]

        def fail(rig, fault, answer):
            """The job's log lines, paths cut to the rig, once the receipt
            failed, was answered and the driver stopped."""
            rig.start()
            if fault:
                rig.simulate(fault)
            rig.drop("a.txt", ITEM, "<")
            rig.wait_log("EROARE LA TIPARIRE BON")
            rig.operate(answer)
            rig.wait(lambda: rig.where("a.txt") == "err", "the file in err")
            self.assertEqual(rig.stop(), 0)
            self.assertTrue(rig.job_log()[-2].startswith("-> DRIVER OPRIT: "))
            return [l.replace(rig.root, "") for l in rig.job_log()[:-2]]

        for fault, answer, failed_wait in cases:
            with self.subTest(fault=fault):
                traced = self.rig(ini={"TRACE": "1"})
                job = fail(traced, fault, answer)
                replaying = self.rig(simulator_args=["--replay", traced.wire_trace_path()])
                self.assertEqual(job, ["-> TRASARE COMUNICATIE PORNITA: /spool/TRACE.OVX"]
                                 + fail(replaying, None, answer))
                self.assertEqual(replaying.commands(), traced.commands())
                self.assertFalse(os.path.exists(replaying.wire_trace_path()))
                trace = traced.wire_trace()
                self.assertEqual([l for l in trace if not line.match(l)], [])
                events = [l.split(" ", 2)[2] for l in trace]
                self.assertEqual({e.split()[0] for e in events}, {"TX", "RX", "ACK", "WAIT"})
                self.assertEqual(sum(e.startswith("TX ") for e in events), len(traced.commands()))
                self.assertIn(failed_wait, events)

    def test_empty_and_marker_only_files_send_nothing(self):
        rig = self.rig()
        rig.start()
        rig.drop("empty.txt")
        rig.drop("marker.txt", "-")
        rig.wait(lambda: rig.where("empty.txt") == "err" and rig.where("marker.txt") is None, "filing")
        self.assertEqual(rig.commands(), [])


class Lifecycle(DriverTest):
    def test_clearing_with_a_silent_register(self):
        rig = self.rig(simulator_args=["--silent"])
        rig.start()
        begun = time.monotonic()
        rig.operate("clear")
        rig.operate("clear")
        rig.wait(lambda: len(rig.commands()) == 2, "the second clearing command")
        rig.drop("a.txt", "<")
        rig.wait(lambda: "T" in rig.commands(), "the next job", timeout=40)
        self.assertGreater(time.monotonic() - begun, 18)
        self.assertEqual(rig.commands()[:2], ["11 45 31", "0F"])
        self.assertTrue(rig.job_log()[0].startswith("-> EFECTUARE STERGERE: "))

    def test_clearing_before_the_first_job_is_acknowledged(self):
        rig = self.rig()
        rig.start()
        rig.operate("clear")
        rig.wait(lambda: rig.trace().count("K") == 2, "both clearing replies acknowledged")
        self.assertEqual(rig.commands(), ["11 45 31", "0F"])
        self.assertTrue(rig.acks_follow_replies())

    def test_stop_while_the_operator_is_asked(self):
        """A stop request while the no-answer box waits is not the operator's
        OK; an About box still open keeps the program until it is closed."""
        rig = self.rig(simulator_args=["--silent"])
        rig.start()
        rig.drop("a.txt", "<")
        rig.wait_log("LIPSA HIRTIE")
        self.assertEqual(rig.stop(), 0)
        self.assertEqual(rig.job_log()[-3:-1], ["-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!",
                                                rig.job_log()[-2]])
        self.assertTrue(rig.job_log()[-2].startswith("-> DRIVER OPRIT: "))
        self.assertEqual(rig.where("a.txt"), "spool")
        rig.start()
        rig.operate("about")
        rig.operate("exit")
        rig.wait(lambda: rig.log()[-2].startswith("-> DRIVER OPRIT: "), "the stop line")
        time.sleep(0.5)
        self.assertIsNone(rig.driver.poll())
        rig.operate("close-about")
        self.assertEqual(rig.wait_exit(), 0)

    def test_exit_during_clearing_ends_at_once(self):
        rig = self.rig(simulator_args=["--silent"])
        rig.start()
        rig.operate("clear")
        rig.wait(lambda: len(rig.commands()) == 1, "the first clearing command")
        rig.operate("exit")
        self.assertEqual(rig.wait_exit(), 0)
        self.assertEqual(rig.commands(), ["11 45 31"])
        self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "))

    def test_exit_while_a_receipt_prints_finishes_it(self):
        rig = self.rig(simulator_args=["--delay-ms", "300"])
        rig.start()
        rig.drop("a.txt", ITEM, "<")
        rig.wait(lambda: len(rig.commands()) >= 3, "the receipt's lines")
        rig.operate("exit")
        self.assertEqual(rig.wait_exit(), 0)
        self.assertEqual(rig.where("a.txt"), "ok")
        self.assertEqual(rig.commands(), ["T", "S"] + ITEM_KEYS_NEW + ["31"])
        self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "))

    def test_nothing_waits_after_a_file_that_cannot_be_filed(self):
        """An empty receipt that cannot be filed (ERRDIR unusable) and a good
        one renamed into the spool together: the good one is printed."""
        rig = self.rig()
        with open(rig.err.rstrip("/"), "w") as f:
            f.write("not a directory")
        rig.start()
        for round in range(10):
            names = ["e%d.txt" % round, "r%d.txt" % round]
            staging = os.path.join(rig.root, "staging")
            os.makedirs(staging, exist_ok=True)
            open(os.path.join(staging, names[0]), "w").close()
            with open(os.path.join(staging, names[1]), "w", newline="") as f:
                f.write("<\r\n")
            for n in names:  # as fast as "mv e.txt r.txt spool/" does it
                os.rename(os.path.join(staging, n), os.path.join(rig.spool, n))
            rig.wait(lambda: rig.where(names[1]) == "ok", "the good receipt")
            self.assertEqual(rig.where(names[0]), "spool")

    def test_a_restart_finishes_what_the_disk_refused(self):
        """Receipts printed (or cancelled) while OKDIR and ERRDIR were unusable
        are filed by the next start once the directories are back: nothing is
        printed twice, nothing cancelled is printed."""
        cases = [  # unusable directories, the operator's answer to a failure, where a and b end
            (("ok", "err"), None, ("ok", "ok")),
            (("err",), "cancel-receipt", ("err", "ok")),
        ]
        for blocked, answer, places in cases:
            with self.subTest(blocked=blocked):
                rig = self.rig()
                for d in blocked:
                    with open(getattr(rig, d).rstrip("/"), "w") as f:
                        f.write("not a directory")
                rig.start()
                if answer:
                    rig.simulate("fail-keys 31 status 08")
                rig.drop("a.txt", "<")
                if answer:
                    rig.wait_log("EROARE LA TIPARIRE BON")
                    rig.simulate("clear")
                    rig.operate(answer)
                    rig.wait(lambda: rig.commands()[-2:] == ["00", "0F"], "the cancel")
                rig.drop("b.txt", "<")
                rig.wait(lambda: rig.commands().count("31") == 2, "both receipts")
                self.assertEqual(rig.stop(), 0)
                sent = rig.commands()
                for d in blocked:
                    os.remove(getattr(rig, d).rstrip("/"))
                rig.start()
                rig.wait(lambda: (rig.where("a.txt"), rig.where("b.txt")) == places, "filing")
                time.sleep(0.5)
                self.assertEqual(rig.commands(), sent)

    def test_a_spool_directory_replaced_under_its_path(self):
        """BONDIR names a symbolic link that is switched to another directory
        while the driver idles: the watch follows the new directory within a
        few seconds and its receipts are printed."""
        rig = self.rig(make_dirs=("spool-a", "spool-b"))
        link = os.path.join(rig.root, "spool")
        os.symlink("spool-a", link)
        rig.start()
        rig.drop("a.txt", "<")
        rig.wait(lambda: rig.where("a.txt") == "ok", "the first receipt")
        time.sleep(0.5)  # idle: the timer is off
        shutil.copy(os.path.join(rig.root, "spool-a", "LOG.OVX"), os.path.join(rig.root, "spool-b"))
        os.symlink("spool-b", link + ".new")
        os.rename(link + ".new", link)
        rig.drop("b.txt", "<")
        rig.wait(lambda: rig.where("b.txt") == "ok", "the receipt in the new directory", timeout=15)
        self.assertIn("-> DIRECTORUL %s A FOST INLOCUIT; ESTE SUPRAVEGHEAT DIN NOU" % rig.spool,
                      rig.job_log())

    def test_log_rotation(self):
        for size, kept in ((1_000_000, True), (1_000_001, False)):
            with self.subTest(size=size):
                rig = self.rig()
                with open(os.path.join(rig.spool, "LOG.OVX"), "wb") as f:
                    f.write(b"x" * (size - 2) + b"\r\n")
                rig.start()
                rig.stop()
                log = rig.log()
                self.assertEqual(log[0].startswith("xxx"), kept)
                self.assertEqual(log[1 if kept else 0], "*" * 60)

    def test_single_instance_per_program_directory(self):
        """One driver per program directory and one per spool, whatever the
        session: a second copy ends at once, before it touches the running
        copy's log (due for rotation) or its job record."""
        rig = self.rig()
        if not WINE:
            # A lock file left by a copy that ended blocks nothing.
            for lock in rig.instance_locks():
                open(lock, "w").close()
        first = rig.start()
        with open(os.path.join(rig.spool, "LOG.OVX"), "ab") as f:
            f.write(b"x" * 1_000_000 + b"\r\n")
        record = os.path.join(rig.spool, "OVIXNOVA.JOB")
        with open(record, "w") as f:
            f.write("PRINTING a.txt\n")
        log = rig.log()
        same_spool = self.rig(ini={"BONDIR": rig.spool})
        for second in (rig, same_spool):  # the same program directory; another, same BONDIR
            with self.subTest(program=second.prog):
                self.assertEqual(second.start(wait_for_start=False).wait(20), 0)
                self.assertEqual(rig.log(), log)
                with open(record) as f:
                    self.assertEqual(f.read(), "PRINTING a.txt\n")
        os.remove(record)
        other = self.rig()
        other.start()  # another program directory and spool: another register
        self.assertEqual(other.stop(), 0)
        self.assertIsNone(first.poll())

    def test_defaults_and_dump(self):
        """Each start writes its block and each exit its stop line."""
        rig = self.rig(ini={"DESCRIERE": "40", "CHPRINTPROG": "0"})
        for n in (1, 2):
            rig.start(wait_for_start=False)
            rig.wait(lambda: rig.log().count("\t--- CONFIGURATIE PORNIRE DRIVER ---") == n,
                     "start block %d" % n)
            self.assertEqual(rig.stop(), 0)
        log = rig.log()
        self.assertEqual(log.count("*" * 60), 2)
        self.assertEqual(sum(l.startswith("-> DRIVER OPRIT: ") for l in log), 2)
        self.assertEqual(log[0], "*" * 60)
        self.assertTrue(log[1].startswith("-> DRIVER PORNIT: "))
        self.assertEqual(log[2:4], ["", "\t--- CONFIGURATIE PORNIRE DRIVER ---"])
        self.assertEqual(log[4], "\t  PORT COM  : " + rig.device)
        self.assertIn("\t  DESCRIERE : 20", log)
        self.assertIn("\t  CHPRINTPROG:0", log)
        self.assertEqual(log[25], "\t" + "-" * 35)

    def test_start_up_failures(self):
        missing = self.rig(make_dirs=())
        # --help and --version print and end before the settings are read,
        # with no display (on Windows, to the console it was started from).
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as f:
            version = re.search(r"project\(ovixnova VERSION ([0-9.]+)", f.read()).group(1)
        program = os.path.join(missing.prog, os.path.basename(DRIVER))
        usage = "Utilizare: ovixnova [--help | --version"
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        for option, first in (("--version", "ovixnova " + version), ("--help", usage)):
            status, out = missing.run_program(program, option, env=env)
            self.assertEqual(status, 0)
            self.assertTrue(out.startswith(first), out)
        self.assertIn("OVIX.INI", out)
        # Any other argument is refused, with the help, before anything else.
        status, out = missing.run_program(program, "--bogus", env=env)
        self.assertEqual(status, 2)
        self.assertTrue(out.startswith("ovixnova: optiune necunoscuta: --bogus\n"), out)
        self.assertIn(usage, out)
        # A start-up failure names the key to change and OVIX.INI's path, and
        # goes to the log too once the log can be written.
        driver = missing.start(wait_for_start=False)
        self.assertNotEqual(driver.wait(20), 0)
        self.assertIn(os.path.join(missing.spool, "LOG.OVX"), driver.stderr.read())
        # Without OVIX.INI every setting is its default: the spool C:\OVIX\,
        # missing here, is named with the key to change.
        os.remove(os.path.join(missing.prog, "OVIX.INI"))
        driver = missing.start(wait_for_start=False)
        self.assertNotEqual(driver.wait(20), 0)
        message = driver.stderr.read()
        self.assertIn("(cheia BONDIR din ", message)
        self.assertIn("OVIX.INI", message)
        busy = self.rig(ini={"COM": "/dev/ovix-no-such-port"})
        driver = busy.start(wait_for_start=False)
        self.assertNotEqual(driver.wait(20), 0)
        message = driver.stderr.read()
        self.assertIn("/dev/ovix-no-such-port (cheia COM din ", message)
        self.assertIn("OVIX.INI", message)
        self.assertEqual(busy.log()[0], "*" * 60)
        line = busy.log()[-2]
        self.assertTrue(line.startswith("-> EROARE LA PORNIRE: Portul serial /dev/ovix-no-such-port"))
        self.assertIn(line[len("-> EROARE LA PORNIRE: "):], message)

    @unittest.skipUnless(WINE, "a close request of the Windows program")
    def test_a_close_request_stops_in_order(self):
        """taskkill without /F, and --stop of the driver's program directory
        (its own by default), end the driver with its stop line; --stop of
        another directory leaves it running."""
        for how in ("taskkill", "--stop", "--stop DIR"):
            with self.subTest(how=how):
                rig = self.rig()
                rig.start()
                program = os.path.join(rig.prog, "ovixnova.exe")
                self.assertEqual(rig.run_program(program, "--stop", rig.spool)[0], 0)
                time.sleep(0.5)
                self.assertIsNone(rig.driver.poll())
                request = {"taskkill": ["taskkill", "/IM", "ovixnova.exe"], "--stop": [program, "--stop"],
                           "--stop DIR": [program, "--stop", rig.prog + "\\"]}[how]
                self.assertEqual(rig.run_program(*request)[0], 0)
                self.assertEqual(rig.wait_exit(), 0)
                self.assertTrue(rig.log()[-2].startswith("-> DRIVER OPRIT: "))

    @unittest.skipUnless(WINE, "--stop of the Windows program")
    def test_a_stop_that_gives_up_is_withdrawn(self):
        """A --stop that gives up while a receipt's lines are still being sent
        (a slow register; the test build's shorter wait) takes its request
        back: the receipt is printed to its end, the log says the stop was
        withdrawn, and the driver runs on and prints the next receipt."""
        rig = self.rig()
        rig.start()
        rig.simulate("delay 1500")
        rig.drop("a.txt", ITEM, ITEM, ITEM, ITEM, "<")
        rig.wait(lambda: len(rig.commands()) >= 3, "the receipt's first line")
        status, _ = rig.run_program(os.path.join(rig.prog, "ovixnova.exe"), "--stop",
                                    env={"OVIXNOVA_TEST_STOP_WAIT_MS": "1000"})
        self.assertEqual(status, 1)
        rig.wait_log("Sfirsit tiparire")
        rig.simulate("delay 0")
        rig.drop("b.txt", ITEM, "<")
        rig.wait(lambda: rig.where("b.txt") == "ok", "the next receipt")
        self.assertIsNone(rig.driver.poll())
        log = rig.job_log()
        self.assertEqual(log.count("-> OPRIREA CERUTA A FOST RETRASA"), 1)
        self.assertLess(log.index("-> OPRIREA CERUTA A FOST RETRASA"), log.index(printed(rig, "a.txt")[1]))
        self.assertFalse(any(l.startswith("-> DRIVER OPRIT") for l in log))

    @unittest.skipUnless(WINE, "--stop of the Windows program")
    def test_stop_closes_the_start_up_box(self):
        """A driver showing its start-up error box (its port is missing) is
        stopped by --stop, given its folder in another case with a trailing
        backslash."""
        rig = self.rig(ini={"COM": "99"})
        driver = rig.start(wait_for_start=False, operator=False)
        rig.wait_log("-> EROARE LA PORNIRE: Portul serial COM99")
        spelling = "Z:" + rig.prog.upper().replace("/", "\\") + "\\"
        self.assertEqual(rig.run_program(os.path.join(rig.prog, "ovixnova.exe"), "--stop", spelling)[0], 0)
        self.assertEqual(driver.wait(20), 1)

    @unittest.skipIf(WINE or not os.access("/var/lock", os.W_OK), "needs the POSIX lock directory")
    def test_empty_lock_left_by_a_killed_driver(self):
        """A driver killed between making its port's lock file and filling it
        leaves the file empty; the next start, at once or later, still gets
        the port once that file has stood empty for a few seconds. A fresh
        empty one that its owner fills meanwhile (a program that writes its
        PID next) is kept: the port is busy."""
        for age, gets_port in ((10, True), (0, True), (0, False)):
            with self.subTest(age=age):
                rig = self.rig()
                lock = "/var/lock/LCK.." + rig.device.replace("/dev/", "", 1).replace("/", "_")
                open(lock, "w").close()
                os.utime(lock, (time.time() - age,) * 2)
                self.addCleanup(lambda lock=lock: os.path.exists(lock) and os.remove(lock))
                if gets_port:
                    rig.start()
                    rig.drop("a.txt", ITEM)
                    rig.settle(["a.txt"], "ok")
                    self.assertEqual(rig.where("a.txt"), "ok")
                else:
                    driver = rig.start(wait_for_start=False)
                    time.sleep(1)
                    with open(lock, "w") as f:
                        f.write("%10d\n" % os.getpid())
                    self.assertEqual(driver.wait(20), 1)
                    self.assertIn("Portul serial " + rig.device, driver.stderr.read())
                    self.assertTrue(os.path.exists(lock))
                    os.remove(lock)

if __name__ == "__main__":
    unittest.main()
