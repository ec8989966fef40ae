"""The console's pages in headless Chromium (Debian's chromium and
chromium-driver, driven by Selenium) against the real server on SQLite:
alice creates a group with two members, edits it and sees it listed as
editable; bob does not see it; a name made of markup shows as text and runs
nothing. A screenshot of the address-group page goes to QUOR_SCREENSHOT_DIR
when it is set. Skipped, saying why, where Chromium cannot run."""
import os
import shutil
import unittest

from console_support import Console

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:  # pragma: no cover - reported as a skip below
    webdriver = None

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
SKIP = ("python3-selenium is not installed" if webdriver is None else
        "chromium or chromedriver is not installed" if not (CHROMIUM and DRIVER) else None)
MARKUP = "<img src=x onerror=alert(1)>"


@unittest.skipIf(SKIP, SKIP)
class ConsoleBrowserTest(unittest.TestCase):
    def setUp(self):
        self.console = Console("sqlite")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                    "--window-size=1200,900"):
            options.add_argument(arg)
        self.browser = webdriver.Chrome(service=Service(DRIVER), options=options)
        self.wait = WebDriverWait(self.browser, 30)

    def tearDown(self):
        self.browser.quit()
        self.console.close()

    def sign_in(self, name, password):
        b = self.browser
        b.delete_all_cookies()
        b.get(self.console.url())
        self.wait.until(expected_conditions.visibility_of_element_located((By.ID, "signin-admin")))
        b.find_element(By.ID, "signin-admin").send_keys(name)
        b.find_element(By.ID, "signin-password").send_keys(password)
        b.find_element(By.ID, "signin-submit").click()
        self.wait.until(expected_conditions.visibility_of_element_located((By.ID, "group-rows")))

    def rows(self):
        """(name, editable) of every listed group, once the list has loaded."""
        self.wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, "#group-rows tr"))
        return [(r.find_element(By.CSS_SELECTOR, ".name").text,
                 r.find_element(By.CSS_SELECTOR, ".editable").text)
                for r in self.browser.find_elements(By.CSS_SELECTOR, "#group-rows tr")]

    def save_group(self, name, members):
        b = self.browser
        b.find_element(By.ID, "group-name").clear()
        b.find_element(By.ID, "group-name").send_keys(name)
        b.find_element(By.ID, "group-members").clear()
        b.find_element(By.ID, "group-members").send_keys("\n".join(members))
        b.find_element(By.ID, "group-save").click()
        self.wait.until(expected_conditions.invisibility_of_element_located((By.ID, "group-form")))

    def test_alice_edits_a_group_bob_cannot_see_it(self):
        b = self.browser
        self.sign_in("alice", "alice-secret")
        b.find_element(By.ID, "group-new").click()
        self.save_group("Partners", ["a@partner.example", "b@partner.example"])
        self.wait.until(lambda _: ("Partners", "yes") in self.rows())
        row = [r for r in b.find_elements(By.CSS_SELECTOR, "#group-rows tr")
               if r.find_element(By.CSS_SELECTOR, ".name").text == "Partners"][0]
        row.find_element(By.XPATH, ".//button[text()='Edit']").click()
        self.wait.until(expected_conditions.visibility_of_element_located((By.ID, "group-form")))
        self.assertEqual("a@partner.example\nb@partner.example",
                         b.find_element(By.ID, "group-members").get_attribute("value"))
        self.save_group("Partners 2", ["c@partner.example", "d@partner.example"])
        self.wait.until(lambda _: ("Partners 2", "yes") in self.rows())

        b.find_element(By.ID, "group-new").click()
        self.save_group(MARKUP, ["x@example.com"])
        self.wait.until(lambda _: (MARKUP, "yes") in self.rows())
        self.assertEqual([], b.find_elements(By.CSS_SELECTOR, "#group-rows img"))
        with self.assertRaises(NoAlertPresentException):
            b.switch_to.alert
        folder = os.environ.get("QUOR_SCREENSHOT_DIR")
        if folder:
            os.makedirs(folder, exist_ok=True)
            b.save_screenshot(os.path.join(folder, "address-groups.png"))

        # Bind the group to alice's *@example.com from the sender-list page.
        b.find_element(By.CSS_SELECTOR, "nav button[data-view='bindings']").click()
        self.wait.until(lambda _: b.find_elements(By.CSS_SELECTOR, "#binding-group option"))
        Select(b.find_element(By.ID, "binding-entity")).select_by_value("5")
        Select(b.find_element(By.ID, "binding-group")).select_by_visible_text(
            [o.text for o in b.find_elements(By.CSS_SELECTOR, "#binding-group option")
             if o.text.startswith("Partners 2 (#")][0])
        Select(b.find_element(By.ID, "binding-membership")).select_by_value("nonoverrideable-black")
        b.find_element(By.ID, "binding-save").click()
        self.wait.until(lambda _: [
            (r.find_element(By.CSS_SELECTOR, ".group").text.startswith("Partners 2 (#"),
             r.find_element(By.CSS_SELECTOR, ".membership").text)
            for r in b.find_elements(By.CSS_SELECTOR, "#binding-rows tr")]
            == [(True, "nonoverrideable-black")])
        self.assertEqual("*@example.com (#5)",
                         b.find_element(By.CSS_SELECTOR, "#binding-rows .entity").text)

        self.sign_in("bob", "bob-secret")
        names = [name for name, _ in self.rows()]
        self.assertIn("Engineering suppliers", names)
        self.assertNotIn("Partners 2", names)
        self.assertNotIn(MARKUP, names)


if __name__ == "__main__":
    unittest.main()
