"""The configured language end to end (its texts in the dialogs, its code for the second stage,
English for a language without a file), and a whole run done with the keyboard alone: real
keys on the X display, through a proxy the user types in and that asks for credentials."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class LanguagesAndKeyboard(harness.E2ETest):
    def closed_port_proxy(self):
        """A WinHTTP default proxy where nothing listens: the direct attempt fails at once."""
        return {"http_proxy": "http://127.0.0.1:%d" % harness.servers.free_port()}

    def test_the_configured_language_shows_its_texts_and_goes_to_the_second_stage(self):
        h = self.h
        h.serve_packages()
        h.machine(dotnet=False)
        # A language without a file falls back to English, and so does the code handed over.
        for language, shown in (("fr-FR", "fr-FR"), ("ru-RU", "ru-RU"), ("it-IT", "en-GB")):
            h.write_config(language=language)
            h.use_language(shown)
            # Each run starts afresh: no records, no release files, no downloaded files.
            for name in os.listdir(h.stub_dir):
                os.remove(os.path.join(h.stub_dir, name))
            for key in ("dotnet_file", "stage2_file"):
                if os.path.exists(h.config_path(key)):
                    os.remove(h.config_path(key))
            dotnet = h.stub(harness.DOTNET_PACKAGE, wait=True)
            stage2 = h.stub(harness.STAGE2_PACKAGE)
            h.start()

            d = h.dialog("message", do=["click:1"], gone=True)
            self.assertEqual([d.text(i) for i in (1013, 1030, 1014, 1)],
                             [h.text(k) for k in ("DIALOG_CAPTION", "DOTNET_REQUIRED", "DOTNET_NOTFOUND",
                                                  "YES_BUTTON")], language)
            # The progress dialog while the .NET installer runs (its bold line then names the
            # product in every language).
            dotnet.wait_started()
            d = h.dialog("progress", texts={1030: "Tarvelo"})
            self.assertEqual([d.text(i) for i in (1013, 1030, 1014, 1033)],
                             [h.text(k) for k in ("DIALOG_CAPTION", "INSTALLING_BOLD_TEXT", "INSTALLING_DOTNET",
                                                  "PROGRESS_BAR_INSTALLING_TEXT")], language)
            dotnet.release()
            self.assertEqual(stage2.wait_started()["args"], [shown], language)
            self.assertEqual(h.wait_exit(), 1)

    def test_the_keyboard_alone_through_a_typed_proxy_with_credentials_to_the_second_stage(self):
        h = self.h
        h.serve_packages()
        squid = h.squid()
        # The browser names no proxy, so the installer asks for one.
        h.machine(dotnet=False)
        h.write_config(language="de-DE")
        h.use_language("de-DE")
        h.stub(harness.DOTNET_PACKAGE)
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        h.start(env=self.closed_port_proxy())

        # Each dialog has the keyboard when it opens: the robot waits for that before a key goes.
        d = h.dialog("message", focus=1)
        self.assertEqual(d.text(1030), h.text("DOTNET_REQUIRED"))
        h.keys("Return")

        d = h.dialog("proxy", focus=1007)
        self.assertEqual(d.text(1014), h.text("PROVIDE_PROXY_DETAIL"))
        h.type_keys("127.0.0.1")
        h.keys("Tab")
        h.dialog("proxy", focus=1003)
        h.type_keys(str(squid.port))
        h.keys("shift+Tab")
        h.dialog("proxy", focus=1007)
        h.keys("Tab")
        h.dialog("proxy", focus=1003)
        h.keys("Return")

        d = h.dialog("credentials", focus=1006)
        self.assertEqual(d.text(1014), h.text("CREDENTIAL_DETAILS"))
        h.type_keys(squid.user)
        h.keys("Tab")
        h.dialog("credentials", focus=1002)
        h.type_keys(squid.password)
        h.keys("Return")

        self.assertEqual(stage2.wait_started()["args"], ["de-DE"])
        self.assertEqual(h.wait_exit(), 1)
        with open(h.appdata_path("ProxyInfo.proxy"), "rb") as f:
            self.assertEqual(f.read(), ("ProxyServer=http://127.0.0.1:%d|@|UserName=%s|@|Password=%s|@|ByPass=<local>"
                                        % (squid.port, squid.user, squid.password)).encode())
        self.assertIn("TCP_", squid.access_log())


if __name__ == "__main__":
    harness.main()
