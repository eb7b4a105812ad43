-- Cookies of well-known advertising and tracking domains: the readable source of the shipped
-- Cookies.db. The build loads it with sqlite3 and then runs `halvorn rules encrypt`, which turns
-- each domain and information text into its encrypted field.
--
-- domain:      the cookie domain as a cookie store holds it, without a leading dot; the look-up
--              is an exact, case-sensitive match of the whole domain, so a sub-domain that
--              sets cookies of its own needs a row of its own.
-- information: a short description shown beside the domain.

PRAGMA foreign_keys = OFF;
BEGIN TRANSACTION;

CREATE TABLE HVN_BAD_COOKIES (
    auto_id INTEGER PRIMARY KEY AUTOINCREMENT,
    domain BLOB NOT NULL,
    information BLOB NOT NULL
);

INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('doubleclick.net', 'Advertising and tracking network (Google Marketing Platform)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('googleadservices.com', 'Advertising conversion tracking (Google Ads)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('googlesyndication.com', 'Advertising network (Google AdSense)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('google-analytics.com', 'Web analytics and visitor tracking (Google Analytics)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('2mdn.net', 'Advertising content delivery (Google Campaign Manager)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('adnxs.com', 'Advertising exchange and tracking (Xandr / AppNexus)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('adsrvr.org', 'Advertising platform and tracking (The Trade Desk)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('advertising.com', 'Advertising network (Yahoo / AOL)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('criteo.com', 'Retargeting advertising and tracking (Criteo)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('criteo.net', 'Retargeting advertising and tracking (Criteo)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('taboola.com', 'Content recommendation advertising and tracking (Taboola)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('outbrain.com', 'Content recommendation advertising and tracking (Outbrain)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('scorecardresearch.com', 'Audience measurement and tracking (Comscore)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('quantserve.com', 'Audience measurement and tracking (Quantcast)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('quantcount.com', 'Audience measurement and tracking (Quantcast)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('rubiconproject.com', 'Advertising exchange (Magnite / Rubicon Project)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('pubmatic.com', 'Advertising exchange (PubMatic)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('openx.net', 'Advertising exchange (OpenX)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('casalemedia.com', 'Advertising exchange (Index Exchange)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('demdex.net', 'Data management and tracking (Adobe Audience Manager)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('everesttech.net', 'Advertising tracking (Adobe Advertising Cloud)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('omtrdc.net', 'Web analytics and tracking (Adobe Analytics)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('2o7.net', 'Web analytics and tracking (Adobe Analytics)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('bluekai.com', 'Data management and tracking (Oracle BlueKai)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('krxd.net', 'Data management and tracking (Salesforce Krux)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('mathtag.com', 'Advertising platform and tracking (MediaMath)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('rlcdn.com', 'Identity resolution and tracking (LiveRamp)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('bidswitch.net', 'Advertising exchange (BidSwitch)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('tapad.com', 'Cross-device tracking (Tapad)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('addthis.com', 'Sharing widget with visitor tracking (AddThis)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('atdmt.com', 'Advertising tracking (Microsoft Atlas)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('moatads.com', 'Advertising measurement (Moat)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('exelator.com', 'Data management and tracking (Nielsen eXelate)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('agkn.com', 'Identity and audience tracking (Neustar AdAdvisor)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('turn.com', 'Advertising platform and tracking (Amobee / Turn)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('serving-sys.com', 'Advertising serving and tracking (Sizmek)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('adform.net', 'Advertising platform and tracking (Adform)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('smartadserver.com', 'Advertising serving and tracking (Equativ / Smart AdServer)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('yieldmo.com', 'Advertising exchange (Yieldmo)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('sharethrough.com', 'Advertising exchange (Sharethrough)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('contextweb.com', 'Advertising exchange (PulsePoint)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('lijit.com', 'Advertising exchange (Sovrn)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('media.net', 'Contextual advertising network (Media.net)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('zedo.com', 'Advertising network (ZEDO)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('adroll.com', 'Retargeting advertising and tracking (AdRoll)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('amazon-adsystem.com', 'Advertising network (Amazon Advertising)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('ads-twitter.com', 'Advertising tracking (X / Twitter Ads)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('ads.linkedin.com', 'Advertising tracking (LinkedIn Ads)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('bat.bing.com', 'Advertising conversion tracking (Microsoft Advertising)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('mc.yandex.ru', 'Web analytics and visitor tracking (Yandex Metrica)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('ib-ibi.com', 'Advertising tracking (Oracle Datalogix)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('owneriq.net', 'Advertising data and tracking (OwnerIQ)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('adsymptotic.com', 'Cross-device tracking (Drawbridge)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('crwdcntrl.net', 'Data management and tracking (Lotame)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('eyeota.net', 'Audience data and tracking (Eyeota)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('tribalfusion.com', 'Advertising network (Exponential / Tribal Fusion)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('yieldlab.net', 'Advertising exchange (Yieldlab)');
INSERT INTO HVN_BAD_COOKIES (domain, information) VALUES ('zemanta.com', 'Native advertising and tracking (Zemanta)');

CREATE UNIQUE INDEX HVN_BAD_COOKIES_domain ON HVN_BAD_COOKIES (domain);

COMMIT;
